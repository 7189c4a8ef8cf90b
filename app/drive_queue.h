#ifndef DOSEMAP_APP_DRIVE_QUEUE_H_
#define DOSEMAP_APP_DRIVE_QUEUE_H_

#include <QObject>
#include <QProgressDialog>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "conversion/drive_conversion.h"

// What a batch of the window's conversions came to: a few lines per log that was mapped or
// cancelled, one warning per log that failed, and the reports written.
struct DriveBatchResult {
  QStringList summaries;
  QStringList failures;
  std::vector<std::string> reports;
};

// Converts the window's logs one after another on a thread of its own, through the same
// conversion as dosemap-convert, so the window keeps painting and answering. A progress dialog,
// window-modal and titled like the window, shows a second after a batch starts; its キャンセル
// (or Escape, or closing it) stops the current log in any phase, leaving its old maps whole, and
// skips the logs not yet started. Logs added while a batch runs join it.
class DriveQueue : public QObject {
  Q_OBJECT

 public:
  // window: the dialogs' parent and title. finished: called on the window's thread when a batch
  // ends.
  DriveQueue(QWidget* window, std::function<void(const DriveBatchResult&)> finished);
  // Cancels what runs and waits for the thread.
  ~DriveQueue() override;

  void Add(std::vector<dosemap::DriveRequest> requests);
  bool busy() const { return running_; }
  // Stops the current log and skips the rest; the batch then ends as usual.
  void Cancel();
  // The dialog, once shown (for tests).
  QProgressDialog* dialog() const { return dialog_; }

 private:
  void StartNext();
  void ShowDialog();
  void OnProgress(int job, const dosemap::RunProgress& progress);
  void OnConverted(const dosemap::DriveRequest& request, const dosemap::DriveStatistics& stats);
  void OnFailed(const dosemap::DriveRequest& request, dosemap::SurveyErrorKind kind,
                const QString& message);
  void EndBatch();
  QString JobName(int job) const;

  QWidget* window_;
  std::function<void(const DriveBatchResult&)> finished_;
  QThread thread_;
  QObject* worker_;  // lives on thread_: what runs there runs in its context
  std::atomic<bool> cancel_{false};
  std::deque<dosemap::DriveRequest> pending_;
  bool running_ = false;
  int started_ = 0;  // logs of this batch begun
  int total_ = 0;    // logs of this batch
  std::string current_log_;
  QTimer show_timer_;
  QProgressDialog* dialog_ = nullptr;
  DriveBatchResult result_;
};

#endif  // DOSEMAP_APP_DRIVE_QUEUE_H_
