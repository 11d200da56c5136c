// Placeholder so that the program links until the serial component lands.
#include "CPortCtl.h"
TComComboBox::TComComboBox(QWidget *parent) : QComboBox(parent) {}
TCustomComPort *TComComboBox::ComPort() const { return port_; }
void TComComboBox::SetComPort(TCustomComPort *port) { port_ = port; }
TComProperty TComComboBox::ComProperty() const { return property_; }
void TComComboBox::SetComProperty(TComProperty property) { property_ = property; }
