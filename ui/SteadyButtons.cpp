#include "SteadyButtons.h"

#include <QAbstractAnimation>
#include <QEvent>
#include <QPushButton>

namespace {

// A style's animation asks its button to draw the next frame with a style animation event;
// a pulse that finds the event not taken ends. Other animations (the short fades between
// the pointer's states) go on.
class TSteadyButtonFilter : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::StyleAnimationUpdate)
            return false;
        for (QObject *child : watched->children()) {
            const auto *animation = qobject_cast<QAbstractAnimation *>(child);
            if (animation && animation->state() == QAbstractAnimation::Running && child->inherits("QWindowsVistaPulse"))
                return true;
        }
        return false;
    }
};

}  // namespace

void KeepDefaultButtonsSteady(QWidget *window)
{
    auto *filter = new TSteadyButtonFilter(window);
    for (QPushButton *button : window->findChildren<QPushButton *>())
        button->installEventFilter(filter);
}
