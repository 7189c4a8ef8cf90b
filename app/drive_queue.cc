#include "app/drive_queue.h"

#include <QDateTime>
#include <QLabel>
#include <QTimeZone>
#include <filesystem>

#include "survey/civil_time.h"
#include "survey/hotspots.h"
#include "survey/statistics.h"

namespace {

QString Utf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString FileName(const std::string& path) {
  return Utf8(std::filesystem::path(path).filename().string());
}

// A dose or a distance for people to read: three significant digits, "." whatever the locale.
QString Figure(double x) { return QString::fromStdString(dosemap::ThreeDigits(x)); }

// A time in the system's zone with its offset; a log time without a zone as it was written.
QString TimeText(std::int64_t seconds, bool utc) {
  if (!utc) return Utf8(dosemap::IsoTime(seconds, false));
  return QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::systemTimeZone()).toString(Qt::ISODate);
}

QString ReasonText(dosemap::RejectReason reason) {
  return Utf8(std::string(dosemap::ReasonNameJa(reason)));
}

// Whether the request writes the cleaned log for upload, not maps.
bool Cleans(const dosemap::DriveRequest& request) {
  for (const auto& map : request.maps) {
    const dosemap::MapFormRow* form = dosemap::MapFormOf(map);
    if (form != nullptr && form->copies_log_lines) return true;
  }
  return false;
}

// What happened to one log, in a few lines.
QString DriveLines(const dosemap::DriveRequest& request, const dosemap::DriveStatistics& s) {
  QStringList written;
  for (const auto& map : request.maps) written << Utf8(map.filename().string());
  QString text = FileName(request.logs[0]) +
                 (Cleans(request) ? QStringLiteral("\n  アップロード用ログ：")
                                  : QStringLiteral("\n  地図：")) +
                 written.join(QStringLiteral("、"));
  text += QStringLiteral("\n  採用 %1 件、除外 %2 件").arg(s.kept()).arg(s.rejected_total());
  QStringList reasons;
  for (int r = 1; r < dosemap::kRejectReasonCount; ++r) {
    const auto reason = static_cast<dosemap::RejectReason>(r);
    if (reason == dosemap::RejectReason::kPrivacy || s.rejected(reason) == 0) continue;
    reasons << QStringLiteral("%1 (%2) %3")
                   .arg(ReasonText(reason), Utf8(std::string(dosemap::ReasonName(reason))))
                   .arg(s.rejected(reason));
  }
  if (!reasons.isEmpty())
    text += QStringLiteral("（") + reasons.join(QStringLiteral("、")) + QStringLiteral("）");
  text += QStringLiteral("\n  プライバシー区域 %1 件").arg(s.privacy());
  if (s.kept() > 0) {
    text += QStringLiteral("\n  最高線量 %1 μSv/h（%2）")
                .arg(Figure(s.dose_max_usvh()), TimeText(s.highest().time, s.highest().utc));
    text += QStringLiteral("\n  積算線量 %1 μSv").arg(Figure(s.dose_total_usv()));
  }
  if (const dosemap::HotspotResult* hotspots = s.hotspots()) {
    text += QStringLiteral("\n  ホットスポット %1 件").arg(hotspots->hotspots.size());
    if (!hotspots->hotspots.empty()) {
      const dosemap::Hotspot& first = hotspots->hotspots.front();
      text += QStringLiteral("（1 位 %1 μSv/h、%2、周辺の %3 倍）")
                  .arg(Figure(first.dose_usvh), TimeText(first.time, first.utc),
                       QString::fromStdString(dosemap::FigureText(first.ratio, 4)));
    }
  }
  return text;
}

// What stopped the maps of one log, by the kind of failure.
QString FailureText(dosemap::SurveyErrorKind kind) {
  switch (kind) {
    case dosemap::SurveyErrorKind::kCannotReadLog:
      return QStringLiteral("調査ログ %1 を読めませんでした。地図を作成しませんでした。");
    case dosemap::SurveyErrorKind::kUnknownFormat:
      return QStringLiteral("調査ログ %1 の形式がわかりません。地図を作成しませんでした。");
    case dosemap::SurveyErrorKind::kCannotWriteMap:
      return QStringLiteral("調査ログ %1 の地図を書き込めませんでした。前の地図はそのままです。");
    case dosemap::SurveyErrorKind::kUsage:
    case dosemap::SurveyErrorKind::kBadZone:
    case dosemap::SurveyErrorKind::kBadThresholds:
    case dosemap::SurveyErrorKind::kCannotReadZones:
    case dosemap::SurveyErrorKind::kCancelled:
      break;
  }
  return QStringLiteral("調査ログ %1 から地図を作成できませんでした。");
}

}  // namespace

DriveQueue::DriveQueue(QWidget* window, std::function<void(const DriveBatchResult&)> finished)
    : window_(window), finished_(std::move(finished)), worker_(new QObject) {
  worker_->moveToThread(&thread_);
  connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
  thread_.start();
  show_timer_.setSingleShot(true);
  show_timer_.setInterval(1000);
  connect(&show_timer_, &QTimer::timeout, this, &DriveQueue::ShowDialog);
}

DriveQueue::~DriveQueue() {
  cancel_ = true;
  thread_.quit();
  thread_.wait();
}

void DriveQueue::Add(std::vector<dosemap::DriveRequest> requests) {
  for (dosemap::DriveRequest& request : requests) pending_.push_back(std::move(request));
  total_ += static_cast<int>(requests.size());
  if (!running_) {
    running_ = true;
    cancel_ = false;
    show_timer_.start();
    StartNext();
  } else if (dialog_ != nullptr) {
    dialog_->setLabelText(JobName(started_));
  }
}

void DriveQueue::Cancel() {
  if (!running_) return;
  cancel_ = true;
}

QString DriveQueue::JobName(int job) const {
  return QStringLiteral("%1（%2 / %3）").arg(FileName(current_log_)).arg(job).arg(total_);
}

void DriveQueue::StartNext() {
  if (pending_.empty()) return EndBatch();
  dosemap::DriveRequest request = std::move(pending_.front());
  pending_.pop_front();
  if (cancel_) {  // skipped: the user cancelled the batch
    result_.summaries << FileName(request.logs[0]) + QStringLiteral("：キャンセル");
    return StartNext();
  }
  const int job = ++started_;
  current_log_ = request.logs[0];
  if (dialog_ != nullptr) {
    dialog_->setRange(0, 100);
    dialog_->setValue(0);
    dialog_->setLabelText(JobName(job));
  }
  QMetaObject::invokeMethod(
      worker_,
      [this, job, request]() {
        // On the worker's thread: the window hears of it through queued calls only.
        const auto progress = [this, job](const dosemap::RunProgress& run) {
          QMetaObject::invokeMethod(
              this, [this, job, run]() { OnProgress(job, run); }, Qt::QueuedConnection);
        };
        try {
          const dosemap::DriveStatistics stats = dosemap::ConvertDrive(request, progress, &cancel_);
          QMetaObject::invokeMethod(
              this, [this, request, stats]() { OnConverted(request, stats); },
              Qt::QueuedConnection);
        } catch (const dosemap::SurveyError& error) {
          const dosemap::SurveyErrorKind kind = error.kind();
          const QString message = Utf8(error.what());
          QMetaObject::invokeMethod(
              this, [this, request, kind, message]() { OnFailed(request, kind, message); },
              Qt::QueuedConnection);
        } catch (const std::exception& error) {  // never lost in the thread: told as a failure
          const QString message = Utf8(error.what());
          QMetaObject::invokeMethod(
              this,
              [this, request, message]() {
                OnFailed(request, dosemap::SurveyErrorKind::kCannotWriteMap, message);
              },
              Qt::QueuedConnection);
        }
      },
      Qt::QueuedConnection);
}

void DriveQueue::ShowDialog() {
  if (!running_ || dialog_ != nullptr) return;
  dialog_ = new QProgressDialog(JobName(started_), QStringLiteral("キャンセル"), 0, 100, window_);
  dialog_->setObjectName(QStringLiteral("DriveProgress"));
  // The log's name is shown as its characters: a "<b style=…>" in it is no markup.
  auto* label = new QLabel(dialog_);
  label->setTextFormat(Qt::PlainText);
  label->setObjectName(QStringLiteral("DriveProgressLabel"));
  dialog_->setLabel(label);
  dialog_->setLabelText(JobName(started_));
  dialog_->setWindowTitle(window_->windowTitle());
  dialog_->setWindowModality(Qt::WindowModal);
  dialog_->setAutoClose(false);
  dialog_->setAutoReset(false);
  dialog_->setMinimumDuration(0);
  // The button, Escape and closing the dialog all cancel.
  connect(dialog_, &QProgressDialog::canceled, this, &DriveQueue::Cancel);
  dialog_->show();
}

void DriveQueue::OnProgress(int job, const dosemap::RunProgress& progress) {
  if (dialog_ == nullptr || job != started_ || cancel_) return;
  if (progress.writing_maps) {
    dialog_->setRange(0, 0);  // a busy bar: the maps are written and packed
    dialog_->setLabelText(JobName(job) + QStringLiteral("\n地図を書き込んでいます"));
    return;
  }
  dialog_->setLabelText(JobName(job) +
                        QStringLiteral("\n%1 件を読み込みました").arg(progress.records));
  if (progress.share >= 0) dialog_->setValue(static_cast<int>(progress.share * 100));
}

void DriveQueue::OnConverted(const dosemap::DriveRequest& request,
                             const dosemap::DriveStatistics& stats) {
  result_.summaries << DriveLines(request, stats);
  for (const auto& map : request.maps) {
    if (map.extension() == ".html") result_.reports.push_back(map.string());
  }
  StartNext();
}

void DriveQueue::OnFailed(const dosemap::DriveRequest& request, dosemap::SurveyErrorKind kind,
                          const QString& message) {
  if (kind == dosemap::SurveyErrorKind::kCancelled) {
    result_.summaries << FileName(request.logs[0]) + QStringLiteral("：キャンセル");
  } else if (kind == dosemap::SurveyErrorKind::kUsage && Cleans(request)) {
    result_.failures << QStringLiteral(
                            "調査ログ %1 はアップロード用に整理できません。整理できるのは "
                            "bGeigie 型とチェコのロガーのログだけです。ファイルは作成しませんで"
                            "した。")
                                .arg(FileName(request.logs[0])) +
                            QStringLiteral("\n") + message;
  } else {
    result_.failures << FailureText(kind).arg(FileName(request.logs[0])) + QStringLiteral("\n") +
                            message;
  }
  StartNext();  // work already done is kept: a later log's failure loses nothing
}

void DriveQueue::EndBatch() {
  show_timer_.stop();
  if (dialog_ != nullptr) {
    dialog_->hide();
    dialog_->deleteLater();
    dialog_ = nullptr;
  }
  running_ = false;
  started_ = total_ = 0;
  const DriveBatchResult result = std::move(result_);
  result_ = {};
  finished_(result);
}
