#include "ui/qt/station_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontDatabase>
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
#include <QSpinBox>
#include <QStandardPaths>
#include <QTableView>
#include <QVBoxLayout>

#include "ui/qt/station_table_model.h"
#include "ui/station_texts.h"

namespace torvane {

namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }
QString U(const std::string& utf8) { return QString::fromStdString(utf8); }

// A label's font `scale` times as large, bold.
void Enlarge(QWidget* widget, double scale) {
  QFont font = widget->font();
  if (font.pointSizeF() > 0) {
    font.setPointSizeF(font.pointSizeF() * scale);
  } else {
    font.setPixelSize(static_cast<int>(font.pixelSize() * scale));
  }
  font.setBold(true);
  widget->setFont(font);
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
    : QDialog(parent), session_(std::move(setup)) {
  setWindowTitle(U("Torvane 生产线烧录"));
  setWindowFlag(Qt::WindowMaximizeButtonHint, true);
  model_ = new StationTableModel(session_.Table(), this);
  session_.SetFailureAlert([] { QApplication::beep(); });
  // The reader's thread asks for the result to be shown on the UI thread;
  // the destructor ends the reads before the window goes.
  image_reader_ = std::make_unique<StationImageReader>(
      [this] { QMetaObject::invokeMethod(this, [this] { ShowImageRead(); }, Qt::QueuedConnection); });
  BuildLayout();
  ShowImage();
  refresh_.setInterval(1000 / StationSession::kRefreshHz);
  connect(&refresh_, &QTimer::timeout, this, [this] { Refresh(); });
}

StationWindow::~StationWindow() {
  Shutdown();
  image_reader_.reset();
}

void StationWindow::Shutdown() {
  if (!session_.Running()) return;
  session_.Shutdown();
  ShowEnded();
}

void StationWindow::BuildLayout() {
  auto* top = new QGroupBox(this);
  auto* grid = new QGridLayout(top);
  job_open_ = new QPushButton(U("打开作业..."), top);
  job_open_->setObjectName(QStringLiteral("openJob"));
  job_open_->setAutoDefault(false);
  job_label_ = new QLabel(U(job_.Text()), top);
  job_label_->setObjectName(QStringLiteral("job"));
  password_ = new QLineEdit(top);
  password_->setObjectName(QStringLiteral("password"));
  password_->setEchoMode(QLineEdit::Password);
  password_->setPlaceholderText(U("管理员密码"));
  password_->setMaximumWidth(180);
  unlock_ = new QPushButton(U("解锁"), top);
  unlock_->setObjectName(QStringLiteral("unlock"));
  unlock_->setAutoDefault(false);
  image_label_ = new QLabel(top);
  image_label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  address_label_ = new QLabel(top);
  record_path_ = new QLineEdit(top);
  record_path_->setObjectName(QStringLiteral("recordPath"));
  record_path_->setText(DefaultStationRecordPath(U(session_.Setup().settings_path), QDate::currentDate()));
  record_choose_ = new QPushButton(U("选择..."), top);
  digest_label_ = new QLabel(top);
  digest_label_->setObjectName(QStringLiteral("digest"));
  digest_label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  digest_label_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  Enlarge(digest_label_, 1.8);
  enter_boot_ = new QCheckBox(U("自动进入烧录模式"), top);
  enter_boot_->setObjectName(QStringLiteral("enterBoot"));
  count_ = new QSpinBox(top);
  count_->setObjectName(QStringLiteral("count"));
  count_->setRange(0, 1000000);
  count_->setSpecialValueText(U("不限"));
  attempts_ = new QSpinBox(top);
  attempts_->setObjectName(QStringLiteral("attempts"));
  attempts_->setRange(1, 99);
  start_stop_ = new QPushButton(U("开始"), top);
  start_stop_->setObjectName(QStringLiteral("startStop"));
  start_stop_->setAutoDefault(false);
  start_stop_->setMinimumWidth(120);
  auto* job_row = new QHBoxLayout;
  job_row->addWidget(job_open_);
  job_row->addWidget(job_label_, 1);
  job_row->addWidget(password_);
  job_row->addWidget(unlock_);
  grid->addLayout(job_row, 0, 0, 1, 3);
  grid->addWidget(new QLabel(U("镜像文件"), top), 1, 0);
  grid->addWidget(image_label_, 1, 1, 1, 2);
  grid->addWidget(digest_label_, 2, 1, 1, 2);
  grid->addWidget(new QLabel(U("加载地址"), top), 3, 0);
  grid->addWidget(address_label_, 3, 1, 1, 2);
  grid->addWidget(new QLabel(U("记录文件"), top), 4, 0);
  grid->addWidget(record_path_, 4, 1);
  grid->addWidget(record_choose_, 4, 2);
  auto* controls = new QHBoxLayout;
  controls->addWidget(new QLabel(U("数量"), top));
  controls->addWidget(count_);
  controls->addSpacing(12);
  controls->addWidget(new QLabel(U("尝试次数"), top));
  controls->addWidget(attempts_);
  controls->addSpacing(12);
  controls->addWidget(enter_boot_);
  controls->addStretch(1);
  controls->addWidget(start_stop_);
  grid->addLayout(controls, 5, 0, 1, 3);
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
  for (int column = 0; column < kColCount; ++column) {
    if (column != kColState) table_->setColumnWidth(column, kStationColumns[static_cast<size_t>(column)].width);
  }

  connect(table_, &QTableView::doubleClicked, this, [this](const QModelIndex& index) { AcknowledgeRow(index.row()); });

  finished_label_ = new QLabel(U(session_.FinishedText()), this);
  finished_label_->setObjectName(QStringLiteral("finished"));
  Enlarge(finished_label_, 2.0);
  counters_label_ = new QLabel(U(StationCountersText(0, 0, 0).c_str()), this);
  QFont bold = counters_label_->font();
  bold.setBold(true);
  counters_label_->setFont(bold);
  acknowledge_ = new QPushButton(U("确认失败"), this);
  acknowledge_->setObjectName(QStringLiteral("acknowledge"));
  acknowledge_->setAutoDefault(false);
  acknowledge_->setEnabled(false);
  acknowledge_->setToolTip(U("失败的行保留到确认为止 (也可双击该行)"));
  yield_label_ = new QLabel(U(session_.YieldText()), this);
  yield_label_->setObjectName(QStringLiteral("yield"));
  yield_label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  message_label_ = new QLabel(this);
  message_label_->setWordWrap(true);
  record_view_ = new QPlainTextEdit(this);
  record_view_->setReadOnly(true);
  record_view_->setLineWrapMode(QPlainTextEdit::NoWrap);
  record_view_->setMaximumBlockCount(StationSession::kRecordLinesShown);
  record_view_->setFixedHeight(record_view_->fontMetrics().lineSpacing() * StationSession::kRecordLinesShown + 12);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(top);
  layout->addWidget(table_, 1);
  auto* totals = new QHBoxLayout;
  totals->addWidget(finished_label_);
  totals->addSpacing(16);
  totals->addWidget(counters_label_, 1);
  totals->addWidget(acknowledge_);
  layout->addLayout(totals);
  layout->addWidget(yield_label_);
  layout->addWidget(message_label_);
  layout->addWidget(new QLabel(U("最近的记录"), this));
  layout->addWidget(record_view_);
  resize(1080, 680);

  connect(record_choose_, &QPushButton::clicked, this, [this] { ChooseRecordFile(); });
  connect(start_stop_, &QPushButton::clicked, this, [this] { OnStartStop(); });
  connect(acknowledge_, &QPushButton::clicked, this, [this] { AcknowledgeAll(); });
  connect(job_open_, &QPushButton::clicked, this, [this] { ChooseJobFile(); });
  connect(unlock_, &QPushButton::clicked, this, [this] { UnlockJob(); });
  connect(password_, &QLineEdit::returnPressed, this, [this] { UnlockJob(); });
  ShowJob();
}

std::string StationWindow::ImagePath() const {
  return job_.Loaded() ? job_.ImagePath() : session_.Setup().image_path;
}

void StationWindow::ShowImage() {
  const std::string job_address = job_.AddressText();
  address_label_->setText(U(job_address.empty() ? session_.AddressText() : job_address));
  const std::string image = ImagePath();
  digest_label_->clear();
  if (image.empty()) {
    image_label_->setText(U(StationImageSummaryText(StationImageInfo{})));
    return;
  }
  // Read on a thread of its own: a large image does not hold up the window.
  image_label_->setText(U("正在读取 %1 ...").arg(U(image)));
  image_label_->setToolTip(U(image));
  image_reader_->Read(image);
}

void StationWindow::ShowImageRead() {
  const std::optional<StationImageInfo> info = image_reader_->Latest();
  if (!info) return;
  image_label_->setText(U(StationImageSummaryText(*info)));
  const std::string check = job_.DigestCheckText(*info);
  digest_label_->setText(U(StationImageDigestText(*info) + (check.empty() ? "" : "   " + check)));
}

void StationWindow::ChooseRecordFile() {
  // An existing file is appended to, never replaced.
  const QString chosen = QFileDialog::getSaveFileName(this, U("记录文件"), record_path_->text(),
                                                      U("记录文件 (*.jsonl);;所有文件 (*)"), nullptr,
                                                      QFileDialog::DontConfirmOverwrite);
  if (!chosen.isEmpty()) record_path_->setText(chosen);
}

void StationWindow::ChooseJobFile() {
  const QString chosen = QFileDialog::getOpenFileName(this, U("打开作业"), QFileInfo(record_path_->text()).absolutePath(),
                                                      U("作业文件 (*.ini *.job);;所有文件 (*)"));
  if (!chosen.isEmpty()) OpenJob(chosen);
}

bool StationWindow::OpenJob(const QString& path) {
  if (session_.Running()) return false;
  std::vector<std::string> problems;
  if (!job_.Open(QFile::encodeName(QFileInfo(path).absoluteFilePath()).toStdString(), &problems)) {
    QStringList lines;
    for (const std::string& problem : problems) lines.append(U(problem));
    QMessageBox::warning(this, windowTitle(), U("作业文件有问题, 未打开:\n") + lines.join(QLatin1Char('\n')));
    return false;
  }
  // The job's setup replaces the window's.
  const int count = job_.Count();
  if (job_.Fixes(JobField::kCount)) count_->setValue(count);
  if (job_.Fixes(JobField::kAttempts)) attempts_->setValue(job_.Attempts());
  if (job_.Fixes(JobField::kEnterBoot)) enter_boot_->setChecked(job_.EnterBoot());
  if (job_.Fixes(JobField::kRecord)) record_path_->setText(QFile::decodeName(job_.RecordPath().c_str()));
  ShowJob();
  ShowImage();
  return true;
}

bool StationWindow::UnlockJob() {
  if (!job_.Locked()) return true;
  const bool unlocked = job_.Unlock(password_->text().toStdString());
  password_->clear();
  if (!unlocked) {
    QMessageBox::warning(this, windowTitle(), U("管理员密码不正确。"));
    return false;
  }
  ShowJob();
  return true;
}

void StationWindow::ShowJob() {
  job_label_->setText(U(job_.Text()));
  password_->setVisible(job_.Locked());
  unlock_->setVisible(job_.Locked());
  SetIdleControls(!session_.Running());
}

QString StationWindow::JobText() const { return job_label_->text(); }

void StationWindow::SetIdleControls(bool idle) {
  record_path_->setEnabled(idle && job_.Editable(JobField::kRecord));
  record_choose_->setEnabled(idle && job_.Editable(JobField::kRecord));
  enter_boot_->setEnabled(idle && job_.Editable(JobField::kEnterBoot));
  count_->setEnabled(idle && job_.Editable(JobField::kCount));
  attempts_->setEnabled(idle && job_.Editable(JobField::kAttempts));
  job_open_->setEnabled(idle);
  start_stop_->setText(idle ? U("开始") : session_.Stopping() ? U("正在停止...") : U("停止"));
  start_stop_->setEnabled(idle || !session_.Stopping());
}

void StationWindow::OnStartStop() {
  if (session_.Running()) {
    StopStation();
  } else {
    StartStation();
  }
}

bool StationWindow::StartStation() {
  if (session_.Running()) return true;
  // The image is prepared (read, checked, cut into blocks) off the UI
  // thread; the window goes on painting meanwhile.
  const auto run = [this](const std::function<void()>& work) {
    // The session has cleared the table, counters and lines for this start.
    model_->Reset();
    record_lines_.clear();
    record_view_->clear();
    message_label_->clear();
    counters_label_->setText(U(session_.CountersText()));
    finished_label_->setText(U(session_.FinishedText()));
    yield_label_->setText(U(session_.YieldText()));
    acknowledge_->setEnabled(false);
    starting_ = true;
    start_stop_->setEnabled(false);
    start_stop_->setText(U("正在准备..."));
    QEventLoop wait;
    std::thread prepare([&] {
      work();
      QMetaObject::invokeMethod(&wait, [&wait] { wait.quit(); }, Qt::QueuedConnection);
    });
    wait.exec();
    prepare.join();
    starting_ = false;
    SetIdleControls(true);
  };
  StationSession::RunOptions options;
  options.record_path = record_path_->text().trimmed().toStdString();
  options.enter_boot = enter_boot_->isChecked();
  options.count = count_->value();
  options.attempts = attempts_->value();
  job_.Apply(&options);
  std::string message;
  const bool started = session_.Start(options, &message, run);
  if (!started) {
    QMessageBox::warning(this, windowTitle(), U(message));
    return false;
  }
  SetIdleControls(false);
  refresh_.start();
  return true;
}

void StationWindow::StopStation() {
  if (!session_.Running() || session_.Stopping()) return;
  session_.Stop();
  SetIdleControls(false);
}

void StationWindow::ShowEnded() {
  refresh_.stop();
  // Rows the station's last refresh changed as it ended.
  model_->Reset();
  SetIdleControls(true);
}

void StationWindow::Refresh() {
  const bool was_running = session_.Running();
  model_->Follow(session_.Refresh());
  counters_label_->setText(U(session_.CountersText()));
  finished_label_->setText(U(session_.FinishedText()));
  const QString yield = U(session_.YieldText());
  if (yield_label_->text() != yield) yield_label_->setText(yield);
  acknowledge_->setEnabled(session_.Table().AwaitingAcknowledgement() > 0);
  QStringList lines;
  for (const std::string& line : session_.RecordLines()) lines.append(U(line));
  const QString text = lines.join(QLatin1Char('\n'));
  if (text != record_lines_) {
    record_lines_ = text;
    record_view_->setPlainText(text);
  }
  if (message_label_->text() != U(session_.MessageText())) message_label_->setText(U(session_.MessageText()));
  if (was_running && !session_.Running()) ShowEnded();
}

QString StationWindow::ImageText() const { return image_label_->text(); }

QString StationWindow::CountersText() const { return counters_label_->text(); }

QString StationWindow::DigestText() const { return digest_label_->text(); }

QString StationWindow::FinishedText() const { return finished_label_->text(); }

QString StationWindow::YieldText() const { return yield_label_->text(); }

void StationWindow::AcknowledgeRow(int row) {
  model_->Follow(session_.Acknowledge(row));
  acknowledge_->setEnabled(session_.Table().AwaitingAcknowledgement() > 0);
}

void StationWindow::AcknowledgeAll() {
  model_->Follow(session_.AcknowledgeAll());
  acknowledge_->setEnabled(false);
}

QString StationWindow::RecordLinesText() const { return record_lines_; }

void StationWindow::done(int result) {
  if (starting_) return;  // the image is being prepared: a moment
  if (session_.Running()) {
    if (ActiveUnits() > 0) {
      const auto answer = QMessageBox::question(this, windowTitle(), U("仍有设备正在烧录。停止烧录并关闭窗口吗?"),
                                                QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
      if (answer != QMessageBox::Yes) return;
    }
    // The station may have ended while the question was open.
    Shutdown();
  }
  QDialog::done(result);
}

}  // namespace torvane
