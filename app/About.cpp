#include "About.h"

#include "JpegImage.h"
#include "MainForm.h"
#include "Messages.h"
#include "SteadyButtons.h"

#include <QDesktopServices>
#include <QFile>
#include <QFrame>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QUrl>

// The picture lives in the program library's resources, which a static library must
// register explicitly.
static void LoadResources()
{
    Q_INIT_RESOURCE(resources);
}

TLinkLabel::TLinkLabel(const QString &address, QWidget *parent) : QLabel(address, parent)
{
    setToolTip(address);
    QFont f = font();
    f.setUnderline(true);
    setFont(f);
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, QColor(0, 0, 128));  // navy
    setPalette(pal);
    setCursor(Qt::PointingHandCursor);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent *event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint()))
        return;
    Guarded([this] { QDesktopServices::openUrl(QUrl(toolTip())); });  // a failure stays quiet
}

TfmAboutBox::TfmAboutBox(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("О программе"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(298, 213);
    setFont(FormFont());

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setGeometry(8, 8, 281, 161);

    ProgramIcon = new QLabel(Panel1);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setGeometry(8, 8, 97, 97);
    ProgramIcon->setScaledContents(true);  // stretched to the label's size
    LoadResources();
    QFile picture(QStringLiteral(":/about.jpg"));
    if (picture.open(QIODevice::ReadOnly)) {
        const QImage image = DecodeJpeg(picture.readAll());
        if (!image.isNull())
            ProgramIcon->setPixmap(QPixmap::fromImage(image));
    }

    ProductName = new QLabel(QStringLiteral("Имя продукта: Карвен-12Т"), Panel1);
    ProductName->setObjectName(QStringLiteral("ProductName"));
    ProductName->setGeometry(114, 16, 160, 16);

    Version = new QLabel(QStringLiteral("Версия: 1.0"), Panel1);
    Version->setObjectName(QStringLiteral("Version"));
    Version->setGeometry(114, 40, 160, 16);

    Copyright = new QLabel(QStringLiteral("Разработчик:  ООО \"ТОРВИК-3\""), Panel1);
    Copyright->setObjectName(QStringLiteral("Copyright"));
    Copyright->setGeometry(8, 114, 265, 16);

    Comments = new QLabel(QStringLiteral("Сайт разработчика: "), Panel1);
    Comments->setObjectName(QStringLiteral("Comments"));
    Comments->adjustSize();
    Comments->move(8, 136);

    Label1 = new TLinkLabel(QString::fromLatin1(WebAddress), Panel1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->adjustSize();
    Label1->move(Comments->x() + Comments->width(), 136);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(111, 180, 75, 25);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
    KeepDefaultButtonsSteady(this);
}

void TfmAboutBox::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (QScreen *s = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
}
