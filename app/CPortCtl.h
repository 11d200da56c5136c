#pragma once
// Port selector: a drop-down list of the serial ports bound to one port object.

#include "CPort.h"

#include <QComboBox>

class TComComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TComComboBox(QWidget *parent = nullptr);

    TCustomComPort *ComPort() const;
    void SetComPort(TCustomComPort *port);

    TComProperty ComProperty() const;
    // cpPort fills the list from ListSerialPorts once (may raise EComPort::RegistryFailed), without
    // changing the bound port's Port, then selects the entry equal to Port ignoring case.
    void SetComProperty(TComProperty property);

    // Opening the list reads the system's ports again, so that an adapter plugged in or pulled
    // out since shows; the bound port's Port stays and its entry stays selected. A list that
    // cannot be read then leaves the last one as it was. Where the system tells of a change
    // (TPortListWatch), the list is read again at once, or when an open list closes.
    void showPopup() override;
    void hidePopup() override;

    bool AutoApply = true;  // the user's choice sets the bound port's Port at once

    // Where the port list is read from when it is filled (see ListSerialPorts); tests point
    // these at a fake tree. An empty ListUserRoot means DefaultUserPortDirectory().
    inline static QString ListSysRoot = QStringLiteral("/sys");
    inline static QString ListDevRoot = QStringLiteral("/dev");
    inline static QString ListUserRoot;

private:
    // Fills the list with the ports the system has now, each with a tooltip that tells what it is.
    void FillPortList();
    // FillPortList when the system's list may have changed; a failure leaves the last list.
    void RefillPortList();
    void PortListChanged();
    void ShowPortEntry();
    void ApplyChoice(int index);

    TCustomComPort *port_ = nullptr;
    TComProperty property_ = cpNone;
    bool filled_ = false;
    TPortListWatch *watch_ = nullptr;
    bool changedWhileOpen_ = false;
};
