#include "ScreenFit.h"

#include <QLayout>
#include <QMainWindow>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace {

const char ScrollAreaName[] = "ScreenFitArea";

// The frame the system puts round the window. Before a window manager has framed it (X11)
// the system does not know it: the style's title bar and a border stand in.
QMargins FrameOf(const QWidget *window)
{
    if (const QWindow *handle = window->windowHandle()) {
        const QMargins margins = handle->frameMargins();
        if (!margins.isNull())
            return margins;
    }
    const int border = 4;
    const int caption = window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window);
    return QMargins(border, caption + border, border, border);
}

}  // namespace

QScrollArea *FitWindowToScreen(QWidget *window)
{
    QScreen *screen = window->screen();
    if (!screen || window->findChild<QScrollArea *>(QLatin1String(ScrollAreaName)))
        return nullptr;
    const QRect free = screen->availableGeometry();
    const QMargins frame = FrameOf(window);
    const QSize room = free.size().shrunkBy(frame);
    const QSize size = window->size();
    if (size.width() <= room.width() && size.height() <= room.height())
        return nullptr;

    auto *area = new QScrollArea;
    area->setObjectName(QLatin1String(ScrollAreaName));
    area->setFrameShape(QFrame::NoFrame);
    if (auto *main = qobject_cast<QMainWindow *>(window)) {
        area->setWidget(main->takeCentralWidget());
        main->setCentralWidget(area);
        main->layout()->setSizeConstraint(QLayout::SetDefaultConstraint);
    } else {
        // The child widgets keep their places in a content of the window's own size.
        auto *content = new QWidget;
        content->setFixedSize(size);
        for (QWidget *child : window->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            if (child->isWindow())
                continue;
            const bool hidden = child->isHidden() && child->testAttribute(Qt::WA_WState_ExplicitShowHide);
            const QRect place = child->geometry();
            child->setParent(content);
            child->setGeometry(place);
            child->setVisible(!hidden);
        }
        area->setWidget(content);
        auto *layout = new QVBoxLayout(window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(area);
    }

    // Where one direction scrolls, the other makes room for its scroll bar if it can.
    const int bar = area->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, area);
    QSize fitted = size;
    if (size.height() > room.height())
        fitted.rwidth() += bar;
    if (size.width() > room.width())
        fitted.rheight() += bar;
    fitted = fitted.boundedTo(room);
    window->setMinimumSize(0, 0);
    window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    window->setFixedSize(fitted);

    // The whole frame inside the free area.
    const QSize outer = fitted.grownBy(frame);
    QPoint at = window->pos();
    at.setX(std::clamp(at.x(), free.left(), free.left() + free.width() - outer.width()));
    at.setY(std::clamp(at.y(), free.top(), free.top() + free.height() - outer.height()));
    window->move(at);
    return area;
}
