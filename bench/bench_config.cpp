// How long the main window takes to read and to write the configuration against the device
// simulator at 9600 baud with a 5 ms turnaround, beside the pure line time of the bytes
// exchanged. Prints medians over the runs; run with QT_QPA_PLATFORM=offscreen.
//
//   bench_config [runs]   (default 15, at least 10)

#include "CPort.h"
#include "Globals.h"
#include "MainForm.h"
#include "Measure.h"
#include "SimDevice.h"

#include <QAction>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTreeWidgetItem>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int runs = std::max(10, argc > 1 ? std::atoi(argv[1]) : 15);

    QTemporaryDir dir;
    sim::SimOptions options;
    options.LinkPath = (dir.path() + QStringLiteral("/ttyV0")).toStdString();
    options.Baud = 9600;
    options.TurnaroundMs = 5;
    sim::SimDevice device(options);
    std::string error;
    if (!device.Start(&error)) {
        std::fprintf(stderr, "simulator: %s\n", error.c_str());
        return 1;
    }

    TForm1 form;
    form.ComPort1->SetPort(QString::fromStdString(options.LinkPath));
    form.show();
    QTreeWidgetItem *root = form.NodeAt(0);
    const QString saved = QString::fromUtf8(RootTextSaved);
    const QString modified = QString::fromUtf8(RootTextModified);

    std::vector<double> reads;
    std::vector<double> writes;
    int failed = 0;
    for (int i = 0; i < runs; ++i) {
        root->setText(0, modified);
        form.StringGrid1->setRowCount(0);
        const double read = Measure([&] { form.N6->trigger(); }, [&] {
            return root->text(0) == saved && form.StringGrid1->rowCount() == TForm1::NodeCount - 1
                && ExchangeState == ExchangeIdle;
        });
        root->setText(0, modified);
        const double write = Measure([&] { form.N8->trigger(); },
                                     [&] { return root->text(0) == saved && ExchangeState == ExchangeIdle; });
        if (read < 0 || write < 0) {
            ++failed;
            continue;
        }
        reads.push_back(read);
        writes.push_back(write);
    }
    device.Stop();
    if (reads.empty()) {
        std::fprintf(stderr, "no run completed\n");
        return 1;
    }

    const double byteMs = 11 * 1000.0 / 9600;
    const double readLine = 132 * byteMs;   // 8 + 81 + 8 + 35 bytes
    const double writeLine = 123 * byteMs;  // 115 + 8 bytes
    const double readMedian = Median(reads);
    const double writeMedian = Median(writes);
    std::printf("configuration exchange, 9600 baud 8N2, turnaround %.0f ms, %zu runs (%d failed)\n",
                options.TurnaroundMs, reads.size(), failed);
    std::printf("%-36s %10s %10s %8s %10s %10s\n", "", "median ms", "line ms", "ratio", "min ms", "max ms");
    std::printf("%-36s %10.1f %10.1f %8.2f %10.1f %10.1f\n", "read: command to filled grid", readMedian,
                readLine, readMedian / readLine, *std::min_element(reads.begin(), reads.end()),
                *std::max_element(reads.begin(), reads.end()));
    std::printf("%-36s %10.1f %10.1f %8.2f %10.1f %10.1f\n", "write: command to root set, state 0",
                writeMedian, writeLine, writeMedian / writeLine, *std::min_element(writes.begin(), writes.end()),
                *std::max_element(writes.begin(), writes.end()));
    return failed ? 2 : 0;
}
