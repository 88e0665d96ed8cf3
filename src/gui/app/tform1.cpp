#include "gui/app/tform1.h"

#include "core/base/modes.h"
#include "gui/app/activity_log.h"
#include "gui/app/font_fit.h"
#include "gui/app/job_columns.h"
#include "gui/app/location_chooser.h"
#include "gui/app/log_view.h"
#include "gui/app/progress_area.h"
#include "gui/settings/tform2.h"

#include <QAction>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <algorithm>

namespace paritas::gui {
namespace {

// Design-time geometry of the controls that the size rules do not move (client coordinates at the
// design size of 876 by 691).
constexpr int kTopRow = 34; // drop-downs and captions
constexpr int kTreeTop = 62;
constexpr int kTreeHeight = 208;
constexpr int kEditTop = 274;
constexpr int kJobCaptionTop = 304;
constexpr int kJobGridTop = 320;
constexpr int kJobButtonsFromBottom = 277; // top of the job buttons = H - 277
constexpr int kMemoDesignHeight = 99;
constexpr int kBottomLabelHeight = 17;
constexpr int kMiddleDesignWidth = 290; // the mode choice, and the column it sets
constexpr int kModeDesignWidth = 270;   // one mode's radio button
constexpr int kComboDesignWidth = 263;
constexpr int kCaptionGap = 6; // between a caption and the control beside it

QPushButton* button(QWidget* parent, const char* caption, int width, int height = 25) {
    auto* b = new QPushButton(QString::fromUtf8(caption), parent);
    b->resize(width, height);
    return b;
}

QLabel* label(QWidget* parent, const char* caption) {
    auto* l = new QLabel(QString::fromUtf8(caption), parent);
    l->adjustSize();
    return l;
}

} // namespace

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Paritas 1.0"));
    log_ = std::make_unique<ActivityLog>();
    client_ = new QWidget(this);
    setCentralWidget(client_);
    buildMenus();
    buildToolBar(client_);
    buildLocationSide(client_);
    buildMiddle(client_);
    buildJobArea(client_);
    buildProgressArea(client_);

    fitToFont();

    StatusPanelA = new QLabel(QStringLiteral("Files/Folders A:"));
    StatusPanelB = new QLabel(QStringLiteral("Files/Folders B:"));
    StatusPanelA->setMinimumWidth(420);
    statusBar()->addWidget(StatusPanelA);
    statusBar()->addWidget(StatusPanelB, 1);
    statusBar()->setSizeGripEnabled(true);

    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    Timer2 = new QTimer(this);
    Timer2->setInterval(1000);
    connect(Timer2, &QTimer::timeout, this, &TForm1::Timer2Timer);

    log_->setView(Memo3);
    progress_ = std::make_unique<ProgressArea>(ProgressBar1, Label9);

    setMinimumSize(kMinimumWidth, kMinimumHeight);
    resize(kDesignWidth, kDesignHeight);
    if (const QScreen* screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(kDesignWidth / 2, kDesignHeight / 2));
    }
    FormResize();
}

TForm1::~TForm1() = default;

// The menu captions, with mnemonics for the keyboard (the underlined letters do not change the
// text the user reads) and Ctrl+Q for Exit.
void TForm1::buildMenus() {
    QMenu* main = menuBar()->addMenu(QStringLiteral("&Main"));
    Configuration1 = main->addAction(QStringLiteral("&Configuration"), this, &TForm1::Configuration1Click);
    ExportActivityLog1 =
        main->addAction(QStringLiteral("&Export Activity Log"), this, &TForm1::ExportActivityLog1Click);
    main->addSeparator()->setEnabled(false);
    Exit1 = main->addAction(QStringLiteral("E&xit"), this, &TForm1::Exit1Click);
    Exit1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q)); // not every platform theme binds Quit

    QMenu* actionsMenu = menuBar()->addMenu(QStringLiteral("&Actions/Diagnostics"));
    CRCMatchingAB1 =
        actionsMenu->addAction(QStringLiteral("C&RC Matching A -> B"), this, &TForm1::CRCMatchingAB1Click);
    actionsMenu->addSeparator();
    DeleteduplicateswithinA1 = actionsMenu->addAction(QStringLiteral("&Delete duplicates within A"), this,
                                                      &TForm1::DeleteduplicateswithinA1Click);

    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    Compact1 = view->addAction(QStringLiteral("&Compact"), this, &TForm1::Compact1Click);
    Normal1 = view->addAction(QStringLiteral("&Normal"), this, &TForm1::Normal1Click);
    Compact1->setCheckable(true);
    Normal1->setCheckable(true);
    Normal1->setChecked(true);

    QMenu* about = menuBar()->addMenu(QStringLiteral("A&bout"));
    Help1 = about->addAction(QStringLiteral("Visit Web &Help"), this, &TForm1::Help1Click);
    about->addSeparator();
    Developerinfo1 = about->addAction(QStringLiteral("&Developer info"), this, &TForm1::Developerinfo1Click);
}

void TForm1::buildToolBar(QWidget* client) {
    auto tool = [&](QStyle::StandardPixmap icon, const char* hint, int x) {
        auto* b = new QToolButton(client);
        b->setIcon(style()->standardIcon(icon));
        b->setToolTip(QString::fromUtf8(hint));
        b->setAutoRaise(true);
        b->setGeometry(x, 2, 28, 28);
        return b;
    };
    ToolButton1 = tool(QStyle::SP_FileDialogDetailedView, "Configuration", 4);
    ToolButton2 = tool(QStyle::SP_DialogSaveButton, "Export Log", 32);
    ToolButton4 = tool(QStyle::SP_DriveFDIcon, "Save Job List", 68);
    ToolButton5 = tool(QStyle::SP_DialogOpenButton, "Load Job List", 96);
    SpeedButton1 = tool(QStyle::SP_DialogApplyButton, "Add to Favorite Synchronizations", 132);
    SpeedButton2 = tool(QStyle::SP_FileDialogContentsView, "Favorite Synchronizations", 160);
    connect(ToolButton1, &QToolButton::clicked, this, &TForm1::Configuration1Click);
    connect(ToolButton2, &QToolButton::clicked, this, &TForm1::ExportActivityLog1Click);
    connect(ToolButton4, &QToolButton::clicked, this, &TForm1::ToolButton4Click);
    connect(ToolButton5, &QToolButton::clicked, this, &TForm1::ToolButton5Click);
    connect(SpeedButton1, &QToolButton::clicked, this, &TForm1::SpeedButton1Click);
    connect(SpeedButton2, &QToolButton::clicked, this, &TForm1::SpeedButton2Click);
}

void TForm1::buildLocationSide(QWidget* client) {
    QFont big = font();
    big.setPointSize(26);
    big.setBold(true);
    Label3 = label(client, "Source Location");
    // B is the destination: the two captions would otherwise read alike.
    Label5 = label(client, "Destination Location");
    Label2 = label(client, "A");
    Label4 = label(client, "B");
    for (QLabel* letter : {Label2, Label4}) {
        letter->setFont(big);
        letter->adjustSize();
    }
    Label3->move(Label3->x(), kTopRow);
    Label5->move(Label5->x(), kTopRow);
    Label2->move(Label2->x(), kTopRow + 14);
    Label4->move(Label4->x(), kTopRow + 14);

    ShellComboBox1 = new QComboBox(client);
    ShellComboBox2 = new QComboBox(client);
    ShellTreeView1 = new QTreeView(client);
    ShellTreeView2 = new QTreeView(client);
    Edit1 = new QLineEdit(client);
    Edit2 = new QLineEdit(client);
    ShellComboBox1->setGeometry(8, kTopRow - 4, 265, 24);
    ShellComboBox2->setGeometry(590, kTopRow - 4, 263, 24);
    ShellTreeView1->setGeometry(8, kTreeTop, 265, kTreeHeight);
    ShellTreeView2->setGeometry(590, kTreeTop, 263, kTreeHeight);
    Edit1->setGeometry(8, kEditTop, 265, 22);
    Edit2->setGeometry(590, kEditTop, 263, 22);
    for (QLineEdit* edit : {Edit1, Edit2})
        edit->setReadOnly(true);

    chooserA = new LocationChooser(ShellTreeView1, ShellComboBox1, Edit1, this);
    chooserB = new LocationChooser(ShellTreeView2, ShellComboBox2, Edit2, this);
    for (LocationChooser* chooser : {chooserA, chooserB})
        connect(chooser, &LocationChooser::refused, this, [this](const QString& path) {
            log(QStringLiteral("Location refused, its name holds a character that cannot be carried: ") +
                path);
        });
}

void TForm1::buildMiddle(QWidget* client) {
    RadioGroup1 = new QGroupBox(QStringLiteral("Synchonize Mode"), client);
    RadioGroup1->setGeometry(286, 96, 290, 112);
    RadioGroup1->setToolTip(QStringLiteral("Right Click To Show Desciptions"));
    radioButtons = new QButtonGroup(this);
    for (std::size_t i = 0; i < kModeNames.size(); ++i) {
        auto* item = new QRadioButton(
            QString::fromUtf8(kModeNames[i].data(), qsizetype(kModeNames[i].size())), RadioGroup1);
        item->setGeometry(10, 20 + int(i) * 22, 270, 20);
        radioButtons->addButton(item, int(i));
    }
    radioButtons->button(0)->setChecked(true);
    RadioGroup1->setContextMenuPolicy(Qt::CustomContextMenu);
    auto* popup = new QMenu(RadioGroup1);
    ShowDescriptions1 =
        popup->addAction(QStringLiteral("Show Descriptions"), this, &TForm1::ShowDescriptions1Click);
    connect(RadioGroup1, &QWidget::customContextMenuRequested, this,
            [this, popup](const QPoint& at) { popup->popup(RadioGroup1->mapToGlobal(at)); });

    Panel1 = new QFrame(client);
    Panel1->setFrameShape(QFrame::StyledPanel);
    Panel1->setGeometry(300, 212, 276, 30);
    CheckBox1 = new QCheckBox(QStringLiteral("Include Subfolders"), Panel1);
    CheckBox1->setGeometry(8, 5, 140, 20);
    CheckBox1->setChecked(true);
    BitBtn7 = button(Panel1, "Refresh A/B ", 110, 24);
    BitBtn7->move(160, 3);
    BitBtn7->setToolTip(QStringLiteral("Refresh A/B Folder trees"));

    BitBtn6 = button(client, "Analyse/Synchronize Now", 292, 28);
    BitBtn6->move(285, 244);
    QFont bold = BitBtn6->font();
    bold.setBold(true);
    BitBtn6->setFont(bold);
    BitBtn1 = button(client, "Add to Synchronize Job List", 292, 24);
    BitBtn1->move(285, 274);

    connect(BitBtn7, &QPushButton::clicked, this, &TForm1::BitBtn7Click);
    connect(BitBtn6, &QPushButton::clicked, this, &TForm1::BitBtn6Click);
    connect(BitBtn1, &QPushButton::clicked, this, &TForm1::BitBtn1Click);
}

void TForm1::buildJobArea(QWidget* client) {
    Label10 = label(client, "Sync Job List");
    Label10->move(8, kJobCaptionTop);
    StringGrid3 = new QTableWidget(1, 5, client);
    StringGrid3->setHorizontalHeaderLabels({QStringLiteral("Status"), QStringLiteral("Location A"),
                                            QStringLiteral("Synch Mode"), QStringLiteral("Location B"),
                                            QStringLiteral("Subfolders")});
    StringGrid3->setSelectionBehavior(QAbstractItemView::SelectRows);
    StringGrid3->setSelectionMode(QAbstractItemView::SingleSelection);
    StringGrid3->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid3->verticalHeader()->setVisible(false);
    StringGrid3->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    const int designWidths[5] = {110, 320, 156, 247, 150};
    for (int c = 0; c < 5; ++c)
        StringGrid3->setColumnWidth(c, designWidths[c]);
    StringGrid3->move(8, kJobGridTop);

    BitBtn2 = button(client, "Delete Job", 100);
    BitBtn3 = button(client, "Process Job List", 130);
    BitBtn3->setToolTip(QStringLiteral("Automatic without prompting"));
    BitBtn4 = button(client, "Schedule Job List Procesing", 190);
    BitBtn5 = button(client, "Stop All Actions", 130);
    BitBtn5->setEnabled(false);
    connect(BitBtn2, &QPushButton::clicked, this, &TForm1::BitBtn2Click);
    connect(BitBtn3, &QPushButton::clicked, this, &TForm1::BitBtn3Click);
    connect(BitBtn4, &QPushButton::clicked, this, &TForm1::BitBtn4Click);
    connect(BitBtn5, &QPushButton::clicked, this, &TForm1::BitBtn5Click);

    // The inventories are kept in the core; these grids are never shown and only follow the rules.
    StringGrid1 = new QTableWidget(1, 5, client);
    StringGrid2 = new QTableWidget(1, 5, client);
    StringGrid1->hide();
    StringGrid2->hide();
}

void TForm1::buildProgressArea(QWidget* client) {
    Label9 = label(client, "Synchronize Progress");
    ProgressBar1 = new QProgressBar(client);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    Label6 = label(client, "Activity Log");
    Label6->move(8, Label6->y());
    Label1 = new QLabel(client);
    Label7 = new QLabel(client);
    Label7->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblActionCount = new QLabel(client);
    // The log is drawn in the palette's text colour: the grey of the original form is unreadable on
    // white.
    Memo3 = new LogView(log_->store(), client);
    Memo3->resize(850, kMemoDesignHeight);
}

WindowLayout TForm1::layoutChoice() const {
    return Compact1->isChecked() ? WindowLayout::Compact : WindowLayout::Normal;
}

void TForm1::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    FormResize();
}

void TForm1::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::FontChange && Memo3 != nullptr) {
        fitToFont();
        FormResize();
    }
}

// Runs on every change of the window's size and when a View command asks for it.
void TForm1::FormResize() {
    if (resizing_ || Memo3 == nullptr)
        return;
    resizing_ = true;
    const QSize frame = frameGeometry().size() - size();
    const int W = width() + frame.width();
    const int H = height() + frame.height();
    MainLayout l = widenedMiddle(computeMainLayout(W, H, Memo3->height(), layoutChoice()));
    if (!l.jobAreaVisible)
        fitCompactProgressArea(l, H);

    for (QWidget* w : std::initializer_list<QWidget*>{Label10, StringGrid3, BitBtn2, BitBtn3, BitBtn4,
                                                      BitBtn5, Memo3, Label6})
        w->setVisible(l.jobAreaVisible);

    ShellTreeView1->resize(l.treeAWidth, ShellTreeView1->height());
    ShellComboBox1->resize(l.treeAWidth, ShellComboBox1->height());
    Edit1->resize(l.editAWidth, Edit1->height());
    Label3->move(l.label3Left, Label3->y());
    Label2->move(l.label2Left, Label2->y());
    RadioGroup1->move(l.radioGroupLeft, RadioGroup1->y());
    BitBtn6->move(l.analyseLeft, BitBtn6->y());
    BitBtn1->move(l.addJobLeft, BitBtn1->y());
    Label4->move(l.label4Left, Label4->y());
    ShellTreeView2->setGeometry(l.treeBLeft, ShellTreeView2->y(), l.treeBWidth, ShellTreeView2->height());
    // B's drop-down keeps its width while the tree below it is as wide, and never runs past it.
    ShellComboBox2->setGeometry(l.comboBLeft, ShellComboBox2->y(), std::min(kComboDesignWidth, l.treeBWidth),
                                ShellComboBox2->height());
    // B's caption ends a little before B's drop-down begins, however wide the font makes it.
    Label5->move(std::min(l.label5Left, l.comboBLeft - kCaptionGap - Label5->width()), Label5->y());
    Edit2->setGeometry(l.editBLeft, Edit2->y(), l.editBWidth, Edit2->height());
    StringGrid1->resize(l.gridAWidth, StringGrid1->height());
    StringGrid2->setGeometry(l.gridBLeft, StringGrid2->y(), l.gridBWidth, StringGrid2->height());

    placeAnchoredControls(l);
    if (progress_)
        progress_->fitLabel();
    const std::array<int, 5> columns = fittedJobColumns(*StringGrid3, l.jobColumns);
    for (int c = 0; c < 5; ++c)
        StringGrid3->setColumnWidth(c, columns[std::size_t(c)]);
    placeProgressArea(l);

    // The window's own size: undo a height change in compact, keep the client area 650 high in normal.
    // Qt delivers the new size through another resize event, which runs these rules once more.
    setMinimumSize(kMinimumWidth - frame.width(), kMinimumHeight - frame.height());
    resizing_ = false;
    if (l.outerHeight && H != *l.outerHeight)
        resize(width(), *l.outerHeight - frame.height());
    else if (l.minClientHeight && height() < *l.minClientHeight)
        resize(width(), *l.minClientHeight);
}

// The middle column (mode choice, subfolder frame, the two big buttons) is 290 wide at the default
// font; a larger font may need more, which the two trees give up in equal parts.
MainLayout TForm1::widenedMiddle(MainLayout l) const {
    const int extra = std::max(0, middleWidth_ - kMiddleDesignWidth);
    const int left = extra / 2, right = extra - left;
    l.treeAWidth -= left;
    l.editAWidth -= left;
    l.radioGroupLeft -= left;
    l.analyseLeft -= left;
    l.addJobLeft -= left;
    l.treeBLeft += right;
    l.treeBWidth -= right;
    l.comboBLeft += right;
    l.editBLeft += right;
    l.editBWidth -= right;
    return l;
}

// Compact: the progress area stands where the rules put it at the compact height, or lower, below
// the middle column's last button, when a larger font makes the column longer (a status text runs
// across the window during a run); the window is then made as much higher as that needs.
void TForm1::fitCompactProgressArea(MainLayout& l, int outerHeight) const {
    const int shift = outerHeight - kCompactHeight; // the rules' positions at the compact height
    const int aboveBottom = std::max(BitBtn1->geometry().bottom(), Edit1->geometry().bottom());
    l.label9Top = std::max(std::min(l.label9Top, l.progressTop - Label9->height()) - shift, aboveBottom + 4);
    l.progressTop = std::max(l.progressTop - shift, l.label9Top + Label9->height());
    l.bottomLabelsTop = std::max(l.bottomLabelsTop - shift, l.progressTop + ProgressBar1->height() + 5);
    const int labelsHeight = std::max(kBottomLabelHeight, Label1->fontMetrics().height());
    const int around = outerHeight - client_->height(); // frame, menu bar and status bar
    l.outerHeight = std::max(kCompactHeight, l.bottomLabelsTop + labelsHeight + 2 + around);
}

// The progress label stands on the progress bar and the bottom labels above the activity log,
// however high the font makes them; at the default font this is where the rules put them.
void TForm1::placeProgressArea(const MainLayout& l) {
    Label9->move(8, std::min(l.label9Top, l.progressTop - Label9->height()));
    ProgressBar1->move(8, l.progressTop);
    for (QLabel* bottom : {Label1, Label6, Label7, lblActionCount})
        bottom->move(bottom->x(), l.bottomLabelsTop);
    Memo3->move(8, l.bottomLabelsTop + std::max(kBottomLabelHeight, Label6->height()));
}

// Controls that follow their anchors: the job list stretches both ways, the job buttons, progress
// bar and activity log keep to the bottom and stretch with the width, the subfolder frame keeps its
// place at the right of the mode choice.
void TForm1::placeAnchoredControls(const MainLayout& l) {
    const int H = height() + (frameGeometry().height() - height());
    const int W = width() + (frameGeometry().width() - width());
    const int buttonsTop = H - kJobButtonsFromBottom;
    const int right = 8 + l.jobGridWidth;
    BitBtn2->move(8, buttonsTop);
    BitBtn5->move(right - BitBtn5->width(), buttonsTop);
    BitBtn4->move(BitBtn5->x() - 6 - BitBtn4->width(), buttonsTop);
    BitBtn3->move(BitBtn4->x() - 6 - BitBtn3->width(), buttonsTop);
    const int gridTop = std::max(kJobGridTop, Label10->y() + Label10->height());
    StringGrid3->setGeometry(8, gridTop, l.jobGridWidth, std::max(0, BitBtn2->y() - gridTop - 5));
    ProgressBar1->resize(l.jobGridWidth, 16);
    Memo3->resize(l.jobGridWidth, Memo3->height());
    Panel1->move(l.radioGroupLeft + RadioGroup1->width() - Panel1->width(), Panel1->y());
    const int height = std::max(kBottomLabelHeight, Label1->fontMetrics().height());
    const int label1Left = std::max(100, l.jobAreaVisible ? Label6->x() + Label6->width() + 6 : 0);
    Label1->setGeometry(label1Left, Label1->y(), std::max(0, W / 2 - 60 - label1Left), height);
    Label6->move(8, Label6->y());
    lblActionCount->setGeometry(W / 2 - 50, lblActionCount->y(), 140, height);
    Label7->setGeometry(W / 2 + 100, Label7->y(), std::max(0, right - (W / 2 + 100)), height);
}

// Sizes the controls whose captions a larger font may cut, from the font's metrics: the design
// sizes at the default font, more where the caption needs it.
void TForm1::fitToFont() {
    const QList<QAbstractButton*> modes = radioButtons->buttons();
    int modeWidth = kModeDesignWidth;
    int modeHeight = 20;
    for (QAbstractButton* mode : modes) {
        modeWidth = std::max(modeWidth, mode->sizeHint().width());
        modeHeight = std::max(modeHeight, mode->sizeHint().height());
    }
    const int step = std::max(22, modeHeight + 2);
    // Below the group's title and inside its frame, however high the font makes the title.
    const QMargins frame = RadioGroup1->contentsMargins();
    const int top = std::max(20, frame.top());
    for (QAbstractButton* mode : modes)
        mode->setGeometry(10, top + radioButtons->id(mode) * step, modeWidth, modeHeight);
    RadioGroup1->resize(std::max(kMiddleDesignWidth, modeWidth + 20),
                        std::max(112, top + int(modes.size()) * step + frame.bottom() + 1));

    CheckBox1->resize(grownWidth(CheckBox1, 140), grownHeight(CheckBox1, 20));
    BitBtn7->setGeometry(std::max(160, CheckBox1->x() + CheckBox1->width() + 8), 3, grownWidth(BitBtn7, 110),
                         24);
    Panel1->setGeometry(Panel1->x(), std::max(212, RadioGroup1->y() + RadioGroup1->height()),
                        std::max(276, BitBtn7->x() + BitBtn7->width() + 6), 30);
    const int buttonWidth = std::max({292, grownWidth(BitBtn6, 292), grownWidth(BitBtn1, 292)});
    BitBtn6->setGeometry(BitBtn6->x(), std::max(244, Panel1->y() + 32), buttonWidth, 28);
    BitBtn1->setGeometry(BitBtn1->x(), std::max(274, BitBtn6->y() + 30), buttonWidth, 24);
    middleWidth_ = std::max({RadioGroup1->width(), Panel1->width() + 14, buttonWidth - 2});
    RadioGroup1->resize(middleWidth_, RadioGroup1->height());

    for (QLabel* l : {Label3, Label5, Label10, Label6, Label9})
        l->adjustSize();
    Label2->move(Label2->x(), std::max(kTopRow + 14, Label3->y() + Label3->height()));
    Label4->move(Label4->x(), Label2->y());
    const std::pair<QPushButton*, int> jobButtons[] = {
        {BitBtn2, 100}, {BitBtn3, 130}, {BitBtn4, 190}, {BitBtn5, 130}};
    for (const auto& [b, design] : jobButtons)
        b->resize(grownWidth(b, design), grownHeight(b, 25));
    Memo3->resize(Memo3->width(), kMemoDesignHeight);
}
int TForm1::modeIndex() const {
    return radioButtons->checkedId();
}

void TForm1::setModeIndex(int index) {
    if (QAbstractButton* b = radioButtons->button(index))
        b->setChecked(true);
}

std::string TForm1::locationA() const {
    return Edit1->text().toStdString();
}
std::string TForm1::locationB() const {
    return Edit2->text().toStdString();
}

RunLocations TForm1::chosenLocations() const {
    return {locationA(), locationB(), CheckBox1->isChecked()};
}

void TForm1::lockChooser(Side side) {
    int& locks = side == Side::A ? chooserLocksA_ : chooserLocksB_;
    if (locks++ == 0)
        setChooserEnabled(side, false);
}

void TForm1::unlockChooser(Side side) {
    int& locks = side == Side::A ? chooserLocksA_ : chooserLocksB_;
    if (locks > 0 && --locks == 0)
        setChooserEnabled(side, true);
}

void TForm1::setChooserEnabled(Side side, bool enabled) {
    (side == Side::A ? ShellTreeView1 : ShellTreeView2)->setEnabled(enabled);
    (side == Side::A ? ShellComboBox1 : ShellComboBox2)->setEnabled(enabled);
}

Settings TForm1::currentSettings() const {
    return windows_.form2 ? windows_.form2->currentSettings() : Settings{};
}

void TForm1::setProgressMaximum(int64_t maximum) {
    progress_->setMaximum(maximum);
}

void TForm1::setProgressPosition(int64_t position) {
    progress_->setPosition(position);
}

void TForm1::setProgressStatus(const QString& text) {
    progress_->setStatus(text);
}

void TForm1::setProgressStatusColour(const QColor& colour) {
    progress_->setStatusColour(colour);
}

void TForm1::setProgressDetail(const QString& text) {
    progress_->setDetail(text);
}

void TForm1::flushProgress() {
    progress_->flush();
    log_->flush();
}

void TForm1::log(const QString& line) {
    log_->append(line);
}
void TForm1::log(std::string_view line) {
    log_->append(line);
}

void TForm1::Timer1Timer() {
    QPalette p = Label1->palette();
    const bool white = p.color(QPalette::WindowText) == QColor(Qt::white);
    p.setColor(QPalette::WindowText, white ? Qt::black : Qt::white);
    Label1->setPalette(p);
}

void TForm1::Timer2Timer() {
    QPalette p = Label7->palette();
    const bool white = p.color(QPalette::WindowText) == QColor(Qt::white);
    p.setColor(QPalette::WindowText, white ? Qt::black : Qt::white);
    Label7->setPalette(p);
}

} // namespace paritas::gui
