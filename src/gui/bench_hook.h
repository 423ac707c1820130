// Opt-in instrumentation for the benchmarks under bench/. Off unless the environment variable
// KESTROVAR_BENCH is set; then the program prints timestamped markers on stderr and takes commands
// on stdin, so that a script can measure a real process on a real serial line.
//
// Markers, one a line: "kv-bench <monotonic ns> <event> [detail]"
//   main                      main() entered
//   application               the QApplication made (platform plugin loaded, display opened)
//   window                    the main window built, its port menu refreshed
//   shown                     the main window's first exposure painted (the port menu was
//                             refreshed before, while the window was built)
//   frame <ns>                a monitoring frame handled: from the block being taken off the line
//                             to the seven boxes holding their new texts
//   settings <ns>             a settings image handled
//   begin <command>, end <command>
//   message <text>            a message box opened; it is answered with OK at once
//   ready                     commands are read from now on
// Commands on stdin: connect (or disconnect: a click on the link button), load, save, pause, quit,
// chart (Tools > Trend Chart), map (Tools > Correction Map), record <path> (recording into path,
// without the file dialog).
#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace kv {

class Form1;

// Whether KESTROVAR_BENCH is set. Checked once.
bool benchEnabled();
// Prints one marker when the instrumentation is on.
void benchMark(const char* event, const QString& detail = QString());

class BenchHook : public QObject {
    Q_OBJECT
  public:
    // Attaches to the window when KESTROVAR_BENCH is set; nothing otherwise.
    static std::unique_ptr<BenchHook> attach(Form1& window);
    ~BenchHook() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    explicit BenchHook(Form1& window);
    void readCommands();
    void run(const QByteArray& command);

    Form1& window_;
    std::unique_ptr<QSocketNotifier> input_;
    QByteArray pending_;
    bool shown_ = false;
    bool busy_ = false;
};

}  // namespace kv
