// The window program against a device on a port it is given (the simulator in a process of
// its own; under Wine a COM port that leads to it): the configuration read, from the menu
// command to the filled grid, then a mode window polling for a while, so that the CPU time
// of the process (under Wine, and of Wine's server) can be taken from outside. The same
// program on both systems, so that their figures compare; the offscreen platform unless
// another is asked for (bench/windows gives the Windows build Wine's own, on a virtual X
// server, with the Windows style).
//
//   bench_port PORT [runs] [polling seconds]   (defaults 15 and 12)
//
// Prints the read's line as bench_config does, "polling" once the mode window polls, and
// the requests sent when it has polled for the time given.

#include "Generator_f.h"
#include "Globals.h"
#include "MainForm.h"
#include "Measure.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QStyle>
#include <QTableWidget>
#include <QTreeWidgetItem>

#include <cstdio>

namespace {

class CountingWindow : public TfmGenerator_f {
public:
    int Writes = 0;

protected:
    void OpenPortAndWrite(const uint8_t *frame, int count) override
    {
        TfmGenerator_f::OpenPortAndWrite(frame, count);
        ++Writes;
    }
};

}  // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_port PORT [runs] [polling seconds]\n");
        return 2;
    }
    const QString port = QString::fromLocal8Bit(argv[1]);
    const int runs = std::max(1, argc > 2 ? std::atoi(argv[2]) : 15);
    const int pollSeconds = std::max(1, argc > 3 ? std::atoi(argv[3]) : 12);

    std::vector<double> reads;
    int failed = 0;
    {
        TForm1 form;
        form.ComPort1->SetPort(port);
        form.show();
        QTreeWidgetItem *root = form.NodeAt(0);
        const QString saved = QString::fromUtf8(RootTextSaved);
        for (int i = 0; i < runs; ++i) {
            root->setText(0, QString::fromUtf8(RootTextModified));
            form.StringGrid1->setRowCount(0);
            const double read = Measure([&] { form.N6->trigger(); }, [&] {
                return root->text(0) == saved && form.StringGrid1->rowCount() == TForm1::NodeCount - 1
                    && ExchangeState == ExchangeIdle;
            });
            if (read < 0)
                ++failed;
            else
                reads.push_back(read);
        }
    }
    if (reads.empty()) {
        std::fprintf(stderr, "no read completed on %s\n", qPrintable(port));
        return 1;
    }
    const double readLine = 132 * 11 * 1000.0 / 9600;  // 8 + 81 + 8 + 35 bytes
    std::printf("configuration read on %s, %zu runs (%d failed)\n", qPrintable(port), reads.size(), failed);
    std::printf("%-36s %10.1f %10.1f %8.2f %10.1f %10.1f\n", "read: command to filled grid", Median(reads), readLine,
                Median(reads) / readLine, *std::min_element(reads.begin(), reads.end()),
                *std::max_element(reads.begin(), reads.end()));

    // The mode window on screen and active, as the user has it while a mode runs: a style
    // that animates the active window's default button draws it all the while.
    CountingWindow window;
    window.ComPort1->SetPort(port);
    window.StartPolling();
    window.show();
    window.raise();
    window.activateWindow();
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer::singleShot(1000, &loop, &QEventLoop::quit);
    loop.exec();
    std::printf("polling (window %s, style %s)\n", QApplication::activeWindow() == &window ? "active" : "not active",
                qPrintable(QApplication::style()->name()));
    std::fflush(stdout);
    QTimer::singleShot(pollSeconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    std::printf("polled %.1f s: %d requests\n", clock.elapsed() / 1000.0, window.Writes);
    return failed ? 2 : 0;
}
