#include "CompareWindow.h"

#include "MainForm.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

TCompareWindow::TCompareWindow(QWidget *parent, const QString &about, const QList<TDifferenceRow> &rows)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("CompareWindow"));
    setWindowTitle(QStringLiteral("Сравнение с файлом"));
    setFont(FormFont());
    setModal(true);

    About = new QLabel(about, this);
    About->setTextInteractionFlags(Qt::TextSelectableByMouse);
    About->setWordWrap(true);

    Grid = new QTableWidget(int(rows.size()), 4, this);
    Grid->setObjectName(QStringLiteral("CompareGrid"));
    Grid->setHorizontalHeaderLabels({QStringLiteral("Группа"), QStringLiteral("Параметр"), QStringLiteral("В файле"),
                                     QStringLiteral("В программе")});
    Grid->verticalHeader()->hide();
    Grid->verticalHeader()->setDefaultSectionSize(20);
    Grid->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Grid->horizontalHeader()->setHighlightSections(false);
    Grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Grid->setSelectionMode(QAbstractItemView::SingleSelection);
    Grid->setWordWrap(false);
    for (int r = 0; r < int(rows.size()); ++r) {
        const TDifferenceRow &row = rows[r];
        const QString cells[] = {row.Group, row.Name, row.InFile, row.InProgram};
        for (int c = 0; c < 4; ++c) {
            auto *item = new QTableWidgetItem(cells[c]);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            Grid->setItem(r, c, item);
        }
    }
    Grid->resizeColumnsToContents();
    int width = 2 * Grid->frameWidth();
    for (int c = 0; c < 4; ++c) {
        Grid->setColumnWidth(c, Grid->columnWidth(c) + 12);
        width += Grid->columnWidth(c);
    }
    Grid->horizontalHeader()->setStretchLastSection(true);
    // Wide enough for every column, tall enough for a dozen rows; longer lists scroll.
    Grid->setMinimumSize(std::min(width + 20, 900), 20 * std::min<int>(int(rows.size()), 12) + 30);

    Grid->setFocusPolicy(Qt::NoFocus);
    setMinimumWidth(640);

    CloseButton = new QPushButton(QStringLiteral("Закрыть"), this);
    CloseButton->setDefault(true);
    CloseButton->setFocus();
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::accept);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(CloseButton);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(About);
    layout->addWidget(Grid);
    layout->addLayout(buttons);
}
