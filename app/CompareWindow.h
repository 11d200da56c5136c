#pragma once
// The comparison of the program's configuration with a file: one row per parameter that
// differs, by group, name, the value in the file and the value in the program, as the
// main window's grid writes them. Modal; "Закрыть" ends it.

#include <QDialog>
#include <QList>
#include <QString>

class QLabel;
class QPushButton;
class QTableWidget;

struct TDifferenceRow {
    QString Group;
    QString Name;
    QString InFile;
    QString InProgram;
};

class TCompareWindow : public QDialog {
    Q_OBJECT
public:
    // about: lines on the file (its path, where its values came from).
    TCompareWindow(QWidget *parent, const QString &about, const QList<TDifferenceRow> &rows);

    QLabel *About = nullptr;
    QTableWidget *Grid = nullptr;
    QPushButton *CloseButton = nullptr;
};
