#pragma once
// The About window.

#include <QDialog>
#include <QLabel>

class QFrame;
class QPushButton;

// A label that looks like a web link and opens the address in its tooltip when clicked.
class TLinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit TLinkLabel(const QString &address, QWidget *parent = nullptr);

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
};

class TfmAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TfmAboutBox(QWidget *parent = nullptr);

    QFrame *Panel1;
    QLabel *ProgramIcon;
    QLabel *ProductName;
    QLabel *Version;
    QLabel *Copyright;
    QLabel *Comments;
    TLinkLabel *Label1;
    QPushButton *OKButton;

    static constexpr const char *WebAddress = "http://torvik3.example";

protected:
    void showEvent(QShowEvent *event) override;
};
