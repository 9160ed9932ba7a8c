#include "ui/qt/station_window.h"

#include <QCheckBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableView>
#include <QVBoxLayout>

#include "settings/app_paths.h"
#include "station/image_digest.h"
#include "station/station_core.h"
#include "station/units_per_hour.h"
#include "ui/qt/station_table_model.h"
#include "ui/station_texts.h"

namespace torvane {

namespace {

// Record lines shown at the bottom.
constexpr int kRecordLinesShown = 5;
// Longest wait for cancelled transfers to end before the station is torn
// down anyway (the core then leaves a stuck worker to end by itself).
constexpr auto kStopWait = std::chrono::milliseconds(5000);
constexpr auto kCoreStopDeadline = std::chrono::milliseconds(2000);

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// The station's own messages, in the operator's language where known.
QString StationMessageText(const std::string& text) {
  if (text.rfind("hot-plug", 0) == 0) return U("无法监视设备插拔, 每 2 秒查看一次。");
  if (text.rfind("record not written", 0) == 0) {
    return U("记录文件写入失败, 不再开始新的烧录: %1")
        .arg(QString::fromStdString(StationRecordErrorText(text.substr(text.find(':') + 2))));
  }
  return QString::fromStdString(text);
}

}  // namespace

QString DefaultStationRecordPath(const QString& settings_path, const QDate& date) {
  const QString name = QStringLiteral("torvane-record-%1.jsonl").arg(date.toString(Qt::ISODate));
  const QFileInfo settings(settings_path);
  const QFileInfo folder(settings.absolutePath());
  if (!settings_path.isEmpty() && folder.isDir() && folder.isWritable()) return QDir(folder.absoluteFilePath()).filePath(name);
  QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
  if (data.isEmpty()) data = QDir::homePath();
  QDir().mkpath(data);
  return QDir(data).filePath(name);
}

StationWindow::StationWindow(StationWindowSetup setup, QWidget* parent)
    : QDialog(parent), setup_(std::move(setup)), feed_(std::make_unique<StationFeed>()) {
  setWindowTitle(U("Torvane 生产线烧录"));
  setWindowFlag(Qt::WindowMaximizeButtonHint, true);
  model_ = new StationTableModel(this);
  BuildLayout();
  ShowImage();
  refresh_.setInterval(1000 / kRefreshHz);
  connect(&refresh_, &QTimer::timeout, this, [this] { Refresh(); });
}

StationWindow::~StationWindow() {
  Shutdown();
  if (image_reader_.joinable()) image_reader_.join();
}

void StationWindow::Shutdown() {
  if (core_) FinishStation();
}

void StationWindow::BuildLayout() {
  auto* top = new QGroupBox(this);
  auto* grid = new QGridLayout(top);
  image_label_ = new QLabel(top);
  image_label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  address_label_ = new QLabel(top);
  record_path_ = new QLineEdit(top);
  record_path_->setObjectName(QStringLiteral("recordPath"));
  record_path_->setText(DefaultStationRecordPath(QString::fromStdString(setup_.settings_path), QDate::currentDate()));
  record_choose_ = new QPushButton(U("选择..."), top);
  enter_boot_ = new QCheckBox(U("自动进入烧录模式"), top);
  enter_boot_->setObjectName(QStringLiteral("enterBoot"));
  start_stop_ = new QPushButton(U("开始"), top);
  start_stop_->setObjectName(QStringLiteral("startStop"));
  start_stop_->setAutoDefault(false);
  start_stop_->setMinimumWidth(120);
  grid->addWidget(new QLabel(U("镜像文件"), top), 0, 0);
  grid->addWidget(image_label_, 0, 1, 1, 2);
  grid->addWidget(new QLabel(U("加载地址"), top), 1, 0);
  grid->addWidget(address_label_, 1, 1, 1, 2);
  grid->addWidget(new QLabel(U("记录文件"), top), 2, 0);
  grid->addWidget(record_path_, 2, 1);
  grid->addWidget(record_choose_, 2, 2);
  auto* controls = new QHBoxLayout;
  controls->addWidget(enter_boot_);
  controls->addStretch(1);
  controls->addWidget(start_stop_);
  grid->addLayout(controls, 3, 0, 1, 3);
  grid->setColumnStretch(1, 1);

  table_ = new QTableView(this);
  table_->setModel(model_);
  table_->setItemDelegateForColumn(StationTableModel::kProgress, new StationProgressDelegate(table_));
  table_->setSelectionMode(QAbstractItemView::NoSelection);
  table_->setWordWrap(false);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(false);
  table_->horizontalHeader()->setSectionResizeMode(StationTableModel::kState, QHeaderView::Stretch);
  table_->setColumnWidth(StationTableModel::kPort, 90);
  table_->setColumnWidth(StationTableModel::kSerial, 110);
  table_->setColumnWidth(StationTableModel::kKind, 70);
  table_->setColumnWidth(StationTableModel::kInfo, 260);
  table_->setColumnWidth(StationTableModel::kProgress, 170);
  table_->setColumnWidth(StationTableModel::kDuration, 60);

  counters_label_ = new QLabel(U(StationCountersText(0, 0, 0).c_str()), this);
  QFont bold = counters_label_->font();
  bold.setBold(true);
  counters_label_->setFont(bold);
  message_label_ = new QLabel(this);
  message_label_->setWordWrap(true);
  record_view_ = new QPlainTextEdit(this);
  record_view_->setReadOnly(true);
  record_view_->setLineWrapMode(QPlainTextEdit::NoWrap);
  record_view_->setMaximumBlockCount(kRecordLinesShown);
  record_view_->setFixedHeight(record_view_->fontMetrics().lineSpacing() * kRecordLinesShown + 12);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(top);
  layout->addWidget(table_, 1);
  layout->addWidget(counters_label_);
  layout->addWidget(message_label_);
  layout->addWidget(new QLabel(U("最近的记录"), this));
  layout->addWidget(record_view_);
  resize(980, 560);

  connect(record_choose_, &QPushButton::clicked, this, [this] { ChooseRecordFile(); });
  connect(start_stop_, &QPushButton::clicked, this, [this] { OnStartStop(); });
}

void StationWindow::ShowImage() {
  address_label_->setText(QStringLiteral("0x%1").arg(setup_.settings.app_address, 8, 16, QLatin1Char('0')));
  const QString path = QString::fromStdString(setup_.image_path);
  // Only a regular file is read (a FIFO would never end), and on a thread
  // of its own: a large image does not hold up the window.
  if (path.isEmpty() || !QFileInfo(path).isFile()) {
    image_label_->setText(path.isEmpty() ? U("未选择镜像文件") : U("无法读取: %1").arg(path));
    return;
  }
  image_label_->setText(U("正在读取 %1 ...").arg(path));
  image_label_->setToolTip(path);
  image_reader_ = std::thread([this, path] {
    QFile file(path);
    QString text;
    if (!file.open(QIODevice::ReadOnly)) {
      text = U("无法读取: %1").arg(path);
    } else {
      const QByteArray bytes = file.readAll();
      const ImageDigest digest = DigestBytes(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                             static_cast<size_t>(bytes.size()));
      text = U("%1   %2 字节   CRC-32 %3")
                 .arg(QFileInfo(path).fileName())
                 .arg(bytes.size())
                 .arg(digest.crc32, 8, 16, QLatin1Char('0'));
    }
    // The destructor joins this thread before the window goes, so the
    // queued call finds it.
    QMetaObject::invokeMethod(this, [this, text] { image_label_->setText(text); }, Qt::QueuedConnection);
  });
}

void StationWindow::ChooseRecordFile() {
  // An existing file is appended to, never replaced.
  const QString chosen = QFileDialog::getSaveFileName(this, U("记录文件"), record_path_->text(),
                                                      U("记录文件 (*.jsonl);;所有文件 (*)"), nullptr,
                                                      QFileDialog::DontConfirmOverwrite);
  if (!chosen.isEmpty()) record_path_->setText(chosen);
}

void StationWindow::SetIdleControls(bool idle) {
  record_path_->setEnabled(idle);
  record_choose_->setEnabled(idle);
  enter_boot_->setEnabled(idle);
  start_stop_->setText(idle ? U("开始") : stopping_ ? U("正在停止...") : U("停止"));
  start_stop_->setEnabled(idle || !stopping_);
}

void StationWindow::OnStartStop() {
  if (core_) {
    StopStation();
  } else {
    StartStation();
  }
}

bool StationWindow::StartStation() {
  if (core_) return true;
  const QString record = record_path_->text().trimmed();
  if (record.isEmpty()) {
    // Every unit is recorded: the station does not run without a record file.
    QMessageBox::warning(this, windowTitle(), U("请选择记录文件。"));
    return false;
  }
  StationConfig config;
  config.settings = setup_.settings;
  config.image_path = setup_.image_path;
  config.boot_update_image = MakeAbsolutePath(setup_.settings.boot_update_bin);
  config.boot_update_header = MakeAbsolutePath(setup_.settings.boot_update_bin_header);
  config.enter_boot = enter_boot_->isChecked();
  config.record_path = QFile::encodeName(record).toStdString();
  config.stop_deadline = kCoreStopDeadline;

  feed_ = std::make_unique<StationFeed>();
  model_->Clear();
  record_view_->clear();
  record_lines_.clear();
  message_label_->clear();
  counters_ = StationCounters{};
  counters_label_->setText(U(StationCountersText(0, 0, 0).c_str()));
  auto core = std::make_unique<StationCore>(config);
  std::string error;
  StationStartError why = StationStartError::kNone;
  std::unique_ptr<HotplugSource> source = setup_.make_hotplug_source ? setup_.make_hotplug_source() : nullptr;
  // The image is prepared (read, checked, cut into blocks) off the UI
  // thread; the window goes on painting meanwhile.
  bool started = false;
  {
    starting_ = true;
    start_stop_->setEnabled(false);
    start_stop_->setText(U("正在准备..."));
    QEventLoop wait;
    std::thread prepare([&] {
      started = core->Start(feed_.get(), std::move(source), &error, &why);
      QMetaObject::invokeMethod(&wait, [&wait] { wait.quit(); }, Qt::QueuedConnection);
    });
    wait.exec();
    prepare.join();
    starting_ = false;
    SetIdleControls(true);
  }
  if (!started) {
    const QString reason = QString::fromStdString(StationRecordErrorText(error));
    QMessageBox::warning(this, windowTitle(),
                         why == StationStartError::kRecord ? U("记录文件无法使用, 未开始烧录:\n%1").arg(reason)
                                                           : U("镜像文件无法读取, 未开始烧录:\n%1").arg(reason));
    return false;
  }
  core_ = std::move(core);
  started_ = StationClock::now();
  stopping_ = false;
  SetIdleControls(false);
  refresh_.start();
  return true;
}

void StationWindow::StopStation() {
  if (!core_ || stopping_) return;
  core_->CancelAll();
  stopping_ = true;
  stop_requested_ = StationClock::now();
  SetIdleControls(false);
}

int StationWindow::ActiveUnits() const { return core_ ? core_->Counters().active : 0; }

void StationWindow::FinishStation() {
  refresh_.stop();
  stopping_ = false;
  core_->CancelAll();
  if (!core_->Stop()) NoteStationWorkerAbandoned();  // bounded by kCoreStopDeadline
  Refresh();      // what the last units told
  core_.reset();
  SetIdleControls(true);
}

void StationWindow::Refresh() {
  const auto now = StationClock::now();
  const StationBatch batch = feed_->Drain(now);
  model_->Apply(batch, now);
  if (batch.counters_changed) counters_ = batch.counters;
  // Units per hour since the start, moving with the clock between events,
  // once it means something.
  const double hours = std::chrono::duration<double>(now - started_).count() / 3600.0;
  const int finished = counters_.passed + counters_.failed;
  const bool rate = UnitsPerHourMeaningful(finished, now - started_) && hours > 0;
  counters_label_->setText(U(StationCountersText(counters_.passed, counters_.failed,
                                                 rate ? finished / hours : -1).c_str()));
  for (const std::string& line : batch.record_lines) {
    const QString text = QString::fromStdString(line);
    record_lines_.append(text);
    record_view_->appendPlainText(text);
  }
  while (record_lines_.size() > kRecordLinesShown) record_lines_.removeFirst();
  if (!batch.messages.empty()) message_label_->setText(StationMessageText(batch.messages.back()));
  if (stopping_ && core_ && (core_->WaitUntilDone(std::chrono::milliseconds(0)) || now - stop_requested_ >= kStopWait)) {
    FinishStation();
  }
}

QString StationWindow::ImageText() const { return image_label_->text(); }

QString StationWindow::CountersText() const { return counters_label_->text(); }

QString StationWindow::RecordLinesText() const { return record_lines_.join(QLatin1Char('\n')); }

void StationWindow::done(int result) {
  if (starting_) return;  // the image is being prepared: a moment
  if (core_) {
    if (ActiveUnits() > 0) {
      const auto answer = QMessageBox::question(this, windowTitle(), U("仍有设备正在烧录。停止烧录并关闭窗口吗?"),
                                                QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
      if (answer != QMessageBox::Yes) return;
    }
    // The station may have ended while the question was open.
    if (core_) FinishStation();
  }
  QDialog::done(result);
}

}  // namespace torvane
