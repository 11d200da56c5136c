#include "CPortCtl.h"

#include "ErrorReport.h"
#include "PortInfo.h"
#include "PortMessages.h"

#include <QAbstractItemView>
#include <QSignalBlocker>

TComComboBox::TComComboBox(QWidget *parent) : QComboBox(parent)
{
    setEditable(false);
    // Only the user's choice applies; filling the list or selecting by program does not.
    connect(this, &QComboBox::activated, this, &TComComboBox::ApplyChoice);
}

TCustomComPort *TComComboBox::ComPort() const
{
    return port_;
}

void TComComboBox::SetComPort(TCustomComPort *port)
{
    port_ = port;
    if (filled_)
        ShowPortEntry();
}

TComProperty TComComboBox::ComProperty() const
{
    return property_;
}

void TComComboBox::SetComProperty(TComProperty property)
{
    property_ = property;
    if (property != cpPort || filled_)
        return;
    FillPortList();
    if (!watch_) {
        watch_ = new TPortListWatch(this);
        connect(watch_, &TPortListWatch::Changed, this, &TComComboBox::PortListChanged);
    }
}

void TComComboBox::showPopup()
{
    if (property_ == cpPort && filled_)
        RefillPortList();
    changedWhileOpen_ = false;
    QComboBox::showPopup();
}

void TComComboBox::hidePopup()
{
    QComboBox::hidePopup();
    if (changedWhileOpen_) {
        // After the user's choice: the list closes before the entry picked in it is applied.
        changedWhileOpen_ = false;
        QMetaObject::invokeMethod(this, &TComComboBox::RefillPortList, Qt::QueuedConnection);
    }
}

void TComComboBox::PortListChanged()
{
    if (property_ != cpPort || !filled_)
        return;
    // The entries do not change under the user's pointer.
    if (view()->isVisible())
        changedWhileOpen_ = true;
    else
        RefillPortList();
}

void TComComboBox::RefillPortList()
{
    try {
        FillPortList();
    } catch (const EComPort &) {
        // the last list stays; the system's list was reported when it was first read
    }
}

void TComComboBox::FillPortList()
{
    QStringList names;
    ListSerialPorts(names, ListSysRoot, ListDevRoot,
                    ListUserRoot.isEmpty() ? DefaultUserPortDirectory() : ListUserRoot);
    QStringList tips;
    for (const TPortDescription &port : DescribePorts(names, ListSysRoot, ListDevRoot))
        tips << PortDescriptionText(port);
    QStringList shownNames, shownTips;
    for (int i = 0; i < count(); ++i) {
        shownNames << itemText(i);
        shownTips << itemData(i, Qt::ToolTipRole).toString();
    }
    // The system tells of changes to any device (a keyboard, a disk) and the list is read
    // again at each opening: the same ports keep their entries.
    if (!filled_ || names != shownNames || tips != shownTips) {
        // A combo box selects its first entry when filled; that is no choice of the user.
        const QSignalBlocker blocker(this);
        clear();
        addItems(names);
        for (int i = 0; i < names.size(); ++i)
            setItemData(i, tips[i], Qt::ToolTipRole);
    }
    filled_ = true;
    ShowPortEntry();
}

void TComComboBox::ShowPortEntry()
{
    const QSignalBlocker blocker(this);
    // MatchFixedString without MatchCaseSensitive compares ignoring case.
    setCurrentIndex(port_ ? findText(port_->Port(), Qt::MatchFixedString) : -1);
    setToolTip(itemData(currentIndex(), Qt::ToolTipRole).toString());
}

void TComComboBox::ApplyChoice(int index)
{
    if (!AutoApply || !port_ || property_ != cpPort || index < 0)
        return;
    const QString name = itemText(index);
    setToolTip(itemData(index, Qt::ToolTipRole).toString());
    // A port that is open reopens under the new name; its failure goes to the error report,
    // since this runs inside the combo box's signal.
    Guarded([&] { port_->SetPort(name); });
}
