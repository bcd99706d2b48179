#include "exp_base.h"

#include "demo_mark.h"
#include "device/demo_cues.h"
#include "device/sensor_protocol.h"
#include "output/snapshot.h"
#include "widgets/app_setup.h"
#include "widgets/choice_buttons.h"
#include "widgets/control_ids.h"
#include "widgets/dialog_units.h"
#include "widgets/font_cells.h"
#include "widgets/picture_button.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QThread>

#include <array>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <utility>

namespace zelkor::acquisition {

namespace {

using namespace std::chrono_literals;

// With no sensor attached the worker looks for one this often (each look lists the USB devices, which
// costs more than anything else an idle window does); a sensor plugged in is found within a quarter of
// a second all the same, and the stop event still ends the wait at once.
constexpr auto kOpenRetry = 250ms;
constexpr int kRefreshPeriodMs = 10;
constexpr int kBannerTitleX = 120;
constexpr int kBannerTitleY = 10;
constexpr int kTitleCellHeight = 26;
const QColor kTitleColour(18, 0, 255);
constexpr int kTopRightMargin = 20;
constexpr int kTopMargin = 10;
constexpr int kBarLeft = 20;
constexpr int kBarBottomGap = 41;
constexpr int kBarRightMargin = 20;

// Template 170 positions (dialog units) of the frame's bottom buttons.
const QRect kBackRect(277, 199, 19, 13);
const QRect kSnapshotRect(254, 199, 19, 13);
const QRect kStartRect(2, 199, 40, 13);
const QRect kStopRect(43, 199, 40, 13);
const QRect kMinimiseRect(266, 1, 9, 9);
const QRect kCloseRect(275, 1, 9, 9);
const QRect kButtonRect(0, 0, 40, 13);
// Template 705 (the calibration tool) puts the corner buttons on the top edge and start on the left.
constexpr int k705CornerTop = 0;
constexpr int k705StartLeft = 0;

// A report must hold the fields that are decoded from it; a shorter transfer is a damaged report.
constexpr std::size_t kReportBytesWithoutTime = device::kReportTemperatureOffset + 4;
constexpr std::size_t kReportBytesWithTime = device::kReportIntervalOffset + 4;

}  // namespace

// What a window and its worker share for calls on the user-interface thread. A closed channel runs no
// more calls and lets every wait end; a window gets a fresh one each time its worker is stopped, so a
// call still queued from an earlier worker can never run.
struct WorkerUiChannel {
    std::mutex mutex;
    std::condition_variable cv;
    bool closed = false;
    std::vector<QPointer<QMessageBox>> boxes;  // user-interface thread only: messages open for the worker
};

namespace {

thread_local std::shared_ptr<WorkerUiChannel> t_workerChannel;  // set on a window's worker thread

bool OnUiThread()
{
    return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

// Work a worker hands to the user-interface thread travels through this queue under a standard mutex;
// the event Qt posts for it carries nothing. Qt's own locks are invisible to the thread sanitizer, so
// data written by one thread into a posted functor and read by the other would look unordered.
struct HandedTask {
    const void* owner;  // a window whose tasks go when it does, or nullptr
    std::function<void()> run;
};
std::mutex g_handOffMutex;
std::deque<HandedTask> g_handOff;

void RunHandedTasks()
{
    for (;;) {
        std::function<void()> run;
        {
            std::lock_guard lock(g_handOffMutex);
            if (g_handOff.empty())
                return;
            run = std::move(g_handOff.front().run);
            g_handOff.pop_front();
        }
        run();  // may open a nested event loop, which runs later tasks itself
    }
}

void PostToUiThread(const void* owner, std::function<void()> run)
{
    {
        std::lock_guard lock(g_handOffMutex);
        g_handOff.push_back({owner, std::move(run)});
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), [] { RunHandedTasks(); }, Qt::QueuedConnection);
}

void ForgetHandedTasks(const void* owner)
{
    std::lock_guard lock(g_handOffMutex);
    std::erase_if(g_handOff, [owner](const HandedTask& task) { return task.owner == owner; });
}

}  // namespace

bool CallOnUiThread(const std::function<void()>& call)
{
    if (OnUiThread()) {
        call();
        return true;
    }
    const std::shared_ptr<WorkerUiChannel> channel = t_workerChannel;
    if (!channel) {
        std::mutex mutex;
        std::condition_variable ran;
        bool finished = false;
        PostToUiThread(nullptr, [&] {
            call();
            {
                std::lock_guard lock(mutex);
                finished = true;
            }
            ran.notify_all();
        });
        std::unique_lock lock(mutex);
        ran.wait(lock, [&] { return finished; });
        return true;
    }
    auto done = std::make_shared<bool>(false);  // guarded by the channel's mutex
    {
        std::lock_guard lock(channel->mutex);
        if (channel->closed)
            return false;
    }
    PostToUiThread(nullptr, [channel, done, call] {
        {
            std::lock_guard lock(channel->mutex);
            if (channel->closed)
                return;
        }
        call();
        {
            std::lock_guard lock(channel->mutex);
            *done = true;
        }
        channel->cv.notify_all();
    });
    std::unique_lock lock(channel->mutex);
    channel->cv.wait(lock, [&] { return *done || channel->closed; });
    return *done;
}

OpenFailureReaction OpenFailureReactionFor(int experimentIndex)
{
    switch (experimentIndex) {
    case 0:
    case 9:
    case 12:
        return {"没有找到Zelkor设备！", true};
    case 2:
    case 5:
        return {nullptr, true};
    case 1:
        return {"没有找到二维设备！", false};
    case 3:
    case 4:
        return {"找不到Zelkor设备!", false};
    default:
        return {nullptr, false};
    }
}

CDlgTdExpBase::CDlgTdExpBase(CWindowKey, int experimentIndex, QWidget* parent,
                             std::shared_ptr<device::UsbPlatform> platform)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      m_link(std::move(platform)),
      experimentIndex_(experimentIndex),
      channel_(std::make_shared<WorkerUiChannel>()),
      banner_(QStringLiteral(":/bitmap/130.png"))
{
    setFont(widgets::ExperimentDialogFont());
    captionFont_ = font();
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);

    const auto units = widgets::BaseUnitsFor(font());
    auto makeButton = [&](int id, const QRect& du) {
        auto* button = new widgets::CPictureButton(this);
        button->Create(id, QString(), widgets::MapDialogRect(du, units), this);
        return button;
    };
    minimise_ = makeButton(kIdMinimise, kMinimiseRect);
    close_ = makeButton(kIdClose, kCloseRect);
    back_ = makeButton(kIdBack, kBackRect);
    snapshot_ = makeButton(kIdSnapshot, kSnapshotRect);
    start_ = makeButton(kIdStart, kStartRect);
    stop_ = makeButton(kIdStop, kStopRect);
    new CDemoMark(this, minimise_, banner_.isNull() ? QSize(970, 43) : banner_.size());

    connect(minimise_, &QPushButton::clicked, this, &QWidget::showMinimized);
    connect(close_, &QPushButton::clicked, this, &CDlgTdExpBase::CloseExperiment);
    connect(back_, &QPushButton::clicked, this, &CDlgTdExpBase::CloseExperiment);
    takeSnapshot = [](QWidget* window) { output::TakeSnapshot(window); };
    connect(snapshot_, &QPushButton::clicked, this, [this] {
        if (takeSnapshot)
            takeSnapshot(this);
    });

    timer1_.setTimerType(Qt::PreciseTimer);
    connect(&timer1_, &QTimer::timeout, this, &CDlgTdExpBase::Tick);
    // Any thread may queue a sample (the worker, a window's own loop); the resting timer hears of it.
    m_sampleQueue.SetPushHook([this] {
        if (refreshResting_.exchange(false))
            PostToUiThread(this, [this] { WakeRefresh(); });
    });

    // Enter and Escape are swallowed anywhere in the window, before any control sees them.
    qApp->installEventFilter(this);
}

CDlgTdExpBase::~CDlgTdExpBase()
{
    qApp->removeEventFilter(this);
    StopWorker();
    ForgetHandedTasks(this);
}

void CDlgTdExpBase::RefreshView() {}

void CDlgTdExpBase::Tick()
{
    sinceTick_.start();
    RefreshView();
    if (!refreshOn_)
        return;
    if (m_sampleQueue.Size() == 0) {
        refreshResting_.store(true);
        // A sample queued between the two looks may have found the flag still clear: then the flag is
        // taken back here and the timer goes on; otherwise its push has already woken the refresh.
        if (m_sampleQueue.Size() == 0 || !refreshResting_.exchange(false)) {
            timer1_.stop();
            return;
        }
    }
    if (timer1_.interval() != kRefreshPeriodMs || !timer1_.isActive())
        timer1_.start(kRefreshPeriodMs);
}

void CDlgTdExpBase::WakeRefresh()
{
    if (!refreshOn_ || timer1_.isActive())
        return;
    refreshResting_.store(false);
    const qint64 since = sinceTick_.isValid() ? sinceTick_.elapsed() : kRefreshPeriodMs;
    if (since >= kRefreshPeriodMs)
        Tick();
    else
        timer1_.start(static_cast<int>(kRefreshPeriodMs - since));
}

bool CDlgTdExpBase::ReadReport()
{
    std::array<std::uint8_t, device::kReportSize> report{};
    std::size_t read = 0;
    lastReadDelivered_ = false;
    if (!m_link.Read(report.size(), report.data(), &read))
        return false;
    lastReadDelivered_ = read > 0;
    const bool withTime = device::HasTimeField(m_secondVersion.load());
    if (read < (withTime ? kReportBytesWithTime : kReportBytesWithoutTime) || report[device::kReportStatusOffset] != 0)
        return true;
    const device::DataReport decoded = device::DecodeReport(report, withTime);
    const double left = decoded.leftMm * 0.001;
    const double right = decoded.rightMm * 0.001;
    // Only a real triangle with the baseline can be solved (and this refuses NaN as well).
    if (!FormsTriangle(left, right, m_baseline))
        return true;
    DataPck raw;
    raw.x = left;
    raw.y = right;
    raw.temperature = decoded.temperatureC;
    raw.interval = decoded.intervalUs ? *decoded.intervalUs / 1000000 : 0.0f;
    m_rawQueue.Push(raw);
    return true;
}

void CDlgTdExpBase::Decimate()
{
    const SolveFunction solve = SolverFor(m_transformIndex.load());
    decimator_.Decimate(m_rawQueue, m_sampleQueue, m_samplingFrequency.load(), m_secondVersion.load(),
                        solve ? solve : SolverFor(1));
}

bool CDlgTdExpBase::TakeQueuedSamples(const std::function<void(const _DataPck&)>& take)
{
    // Only what was queued when the tick began: a worker that queues faster than the window shows (the
    // unpaced clock, a slow build) must not keep the interface thread in here for ever.
    bool any = false;
    for (std::size_t queued = m_sampleQueue.Size(); queued > 0; --queued) {
        const auto sample = m_sampleQueue.Front();
        m_sampleQueue.PopFront();
        if (!sample)
            break;
        any = true;
        take(*sample);
    }
    return any;
}

bool CDlgTdExpBase::WaitForStop(std::chrono::milliseconds timeout)
{
    return stopEvent_.Wait(timeout);
}

bool CDlgTdExpBase::OpenLinkOrWait()
{
    return m_link.OpenLink() || !stopEvent_.Wait(kOpenRetry);
}

CDlgTdExpBase::Identification CDlgTdExpBase::IdentifyAndStart()
{
    if (!device::Identify(m_link))
        return Identification::NotIdentified;
    m_firstVersion.store(m_link.firstVersion.load());
    m_secondVersion.store(m_link.secondVersion.load());
    if (!device::Start(m_link))
        return Identification::StartNotWritten;
    m_streaming.store(true);
    return Identification::Streaming;
}

bool CDlgTdExpBase::StopBeforePass(PassPacing& last)
{
    const PassPacing was = std::exchange(last, PassPacing{});
    return was.waited ? stopEvent_.Poll() : WaitForStop(was.delivered ? 0ms : 1ms);
}

bool CDlgTdExpBase::PacedReadReport(PassPacing& pacing)
{
    const auto readFrom = std::chrono::steady_clock::now();
    if (!ReadReport())
        return false;
    pacing.delivered = lastReadDelivered_;
    pacing.waited = pacing.delivered && std::chrono::steady_clock::now() - readFrom >= 1ms;
    return true;
}

void CDlgTdExpBase::AcquisitionLoop()
{
    PassPacing last;
    while (!StopBeforePass(last)) {
        if (!m_link.IsConnected()) {
            if (!OpenLinkOrWait())
                return;
        } else if (!m_streaming.load()) {
            if (IdentifyAndStart() == Identification::NotIdentified)
                m_link.CloseLink();
        } else if (PacedReadReport(last)) {
            Decimate();  // after every report read, kept or not
        } else {
            m_streaming.store(false);
        }
    }
}

void CDlgTdExpBase::WorkerMain(std::shared_ptr<WorkerUiChannel> channel)
{
    t_workerChannel = std::move(channel);
    AcquisitionLoop();
    t_workerChannel.reset();
}

bool CDlgTdExpBase::ShowMessageFromWorker(const QString& text)
{
    const std::shared_ptr<WorkerUiChannel> channel = t_workerChannel;
    return CallOnUiThread([this, text, channel] {
        QPointer<QMessageBox> box =
            new QMessageBox(QMessageBox::NoIcon, QCoreApplication::applicationName(), text, QMessageBox::Ok, this);
        if (channel)
            channel->boxes.push_back(box);
        box->exec();
        delete box.data();  // null when the window, its parent, went while it was open
    });
}

bool CDlgTdExpBase::StartAcquisition()
{
    if (closing_)
        return false;
    if (!m_link.IsConnected() && !m_link.OpenLink()) {
        const OpenFailureReaction reaction = OpenFailureReactionFor(experimentIndex_);
        if (reaction.message)
            widgets::ShowMessage(this, QString::fromUtf8(reaction.message));
        if (!reaction.goOn)
            return false;
    }
    if (!worker_.joinable()) {
        stopEvent_.Reset();
        worker_ = std::thread(&CDlgTdExpBase::WorkerMain, this, channel_);
    }
    refreshOn_ = true;
    refreshResting_.store(false);
    timer1_.start(kRefreshPeriodMs);
    device::SendDemoCue(device::DemoCue::AcquisitionStarted);
    return true;
}

void CDlgTdExpBase::StopRefresh()
{
    refreshOn_ = false;
    refreshResting_.store(false);
    timer1_.stop();
}

void CDlgTdExpBase::StopAcquisition()
{
    StopRefresh();
    m_streaming.store(false);
    device::SendDemoCue(device::DemoCue::AcquisitionStopped);
}

void CDlgTdExpBase::StopWorker()
{
    StopRefresh();
    m_streaming.store(false);
    if (!worker_.joinable())
        return;
    // The worker may be waiting for this thread (a message it asked for): end that wait and take its
    // messages down, rather than run anything else of a window that is closing.
    {
        std::lock_guard lock(channel_->mutex);
        channel_->closed = true;
    }
    channel_->cv.notify_all();
    for (const QPointer<QMessageBox>& box : channel_->boxes)
        if (box)
            box->reject();
    channel_->boxes.clear();
    stopEvent_.Set();
    m_link.Cancel();
    worker_.join();
    channel_ = std::make_shared<WorkerUiChannel>();
}

void CDlgTdExpBase::CloseExperiment()
{
    done(0);
}

void CDlgTdExpBase::done(int result)
{
    closing_ = true;
    StopWorker();
    QDialog::done(result);
}

void CDlgTdExpBase::showEvent(QShowEvent* event)
{
    closing_ = false;
    QDialog::showEvent(event);
}

void CDlgTdExpBase::QueueStartUp(std::function<void()> startUp)
{
    QTimer::singleShot(0, this, [this, startUp = std::move(startUp)] {
        if (!closing_ && isVisible())
            startUp();
    });
}

widgets::CPictureButton* CDlgTdExpBase::AddButton(int id, const QString& caption, const QColor& face,
                                                  widgets::Initially state)
{
    const QRect rect = widgets::MapDialogRect(kButtonRect, widgets::BaseUnitsFor(font()));
    return widgets::AddPictureButton(this, id, caption, rect, {face, captionFont_}, state);
}

widgets::CPictureButton* CDlgTdExpBase::StyleFrameButton(int id, const QString& caption, const QColor& face,
                                                         widgets::Initially state)
{
    return widgets::StyleButton(Button(id), caption, {face, captionFont_}, state);
}

void CDlgTdExpBase::SetEnabled(std::initializer_list<int> ids, bool enabled)
{
    widgets::SetControlsEnabled(this, ids, enabled);
}

void CDlgTdExpBase::SetEnabled(const std::vector<int>& ids, bool enabled)
{
    widgets::SetControlsEnabled(this, ids, enabled);
}

FrequencyRadios CDlgTdExpBase::AddFrequencyRadios(std::function<void(double hz)> chosen)
{
    FrequencyRadios radios;
    auto add = [&](int id, const char* caption, double hz) {
        auto* radio = new widgets::CZelRadioButton(this);
        radio->Create(id, QString::fromUtf8(caption), QRect(QPoint(0, 0), radio->sizeHint()), this);
        connect(radio, &QRadioButton::clicked, this, [this, hz, chosen] {
            m_samplingFrequency = hz;
            if (chosen)
                chosen(hz);
        });
        return radio;
    };
    radios.r25 = add(kIdRadio25Hz, "25Hz", 25.0);
    radios.r50 = add(kIdRadio50Hz, "50Hz", 50.0);
    radios.r50->setChecked(true);
    return radios;
}

void CDlgTdExpBase::InitFrame(const QString& title, FrameTemplate frameTemplate)
{
    setWindowIcon(QIcon(QStringLiteral(":/icon/128.png")));
    minimise_->SetBitmap(QPixmap(QStringLiteral(":/bitmap/103.png")));
    minimise_->resize(16, 16);
    close_->SetBitmap(QPixmap(QStringLiteral(":/bitmap/104.png")));
    close_->resize(16, 16);
    snapshot_->SetIcon(QIcon(QStringLiteral(":/icon/139.png")));
    back_->setText(QStringLiteral("返回"));
    setWindowTitle(title);
    if (frameTemplate == FrameTemplate::k705) {
        const auto units = widgets::BaseUnitsFor(font());
        minimise_->move(minimise_->x(), widgets::MapDialogRect(QRect(0, k705CornerTop, 1, 1), units).top());
        close_->move(close_->x(), minimise_->y());
        start_->move(widgets::MapDialogRect(QRect(k705StartLeft, 0, 1, 1), units).left(), start_->y());
        // The whole screen, top-left corner first, as a normal (not maximised) window.
        setWindowState(windowState() & ~(Qt::WindowMaximized | Qt::WindowFullScreen));
        if (const QScreen* s = screen())
            setGeometry(s->geometry());
        return;
    }
    if (const QScreen* s = screen())
        setGeometry(s->availableGeometry());
    setWindowState(windowState() | Qt::WindowMaximized);
}

widgets::CPictureButton* CDlgTdExpBase::Button(int id) const
{
    return widgets::FindControl<widgets::CPictureButton>(this, id);
}

void CDlgTdExpBase::PlaceTopRightButtons(int clientWidth)
{
    close_->move(clientWidth - close_->width() - kTopRightMargin, kTopMargin);
    minimise_->move(close_->x() - minimise_->width(), kTopMargin);
}

int CDlgTdExpBase::LayoutBottomButtonBar(const std::vector<QWidget*>& buttons)
{
    const int w = width();
    const int h = height();
    back_->move(w - kBarRightMargin - back_->width(), h - kBarBottomGap - back_->height());
    snapshot_->move(back_->x() - snapshot_->width(), h - kBarBottomGap - snapshot_->height());
    int top = std::min(back_->y(), snapshot_->y());
    int x = kBarLeft;
    int bottom = h - kBarBottomGap;
    int previousWidth = 0;
    for (QWidget* button : buttons) {
        if (button && !button->isVisibleTo(this))
            continue;
        const int width = button ? button->width() : previousWidth;
        if (x != kBarLeft && x + width > snapshot_->x()) {
            x = kBarLeft;
            bottom -= kBarBottomGap;
        }
        if (button) {
            button->move(x, bottom - button->height());
            top = std::min(top, button->y());
        }
        x += width;
        previousWidth = width;
    }
    return top;
}

void CDlgTdExpBase::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    if (!banner_.isNull())
        painter.drawPixmap(0, 0, banner_);
    const QString title = windowTitle();
    if (!title.isEmpty()) {
        painter.setFont(widgets::FontForCellHeight(QStringLiteral("宋体"), kTitleCellHeight, true, false));
        painter.setPen(kTitleColour);
        painter.drawText(rect().adjusted(kBannerTitleX, kBannerTitleY, 0, 0), Qt::AlignLeft | Qt::AlignTop, title);
    }
}

void CDlgTdExpBase::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    PlaceTopRightButtons(width());
}

bool CDlgTdExpBase::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) &&
            static_cast<QWidget*>(watched)->window() == this)
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace zelkor::acquisition
