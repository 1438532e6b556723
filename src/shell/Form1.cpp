// SPDX-License-Identifier: MIT
#include "shell/Form1.h"

#include "about/HelpCommands.h"
#include "about/ProgramIcon.h"
#include "diz/DizReader.h"
#include "diz/DizWriter.h"
#include "pane/ArchivePane.h"
#include "pane/FolderHolder.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/Settings.h"
#include "shell/DescriptionBox.h"
#include "shell/Form1DizHost.h"
#include "shell/MessageBoxes.h"
#include "shell/StatusPanel.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

namespace vexlo {

namespace {

// The two run buttons' captions, idle and while their run goes on.
const QString kMakeListCaption = QStringLiteral("&Make list");
const QString kSaveDizCaption = QStringLiteral("Save &diz");
const QString kAbortCaption = QStringLiteral("&Abort");

const QString kTitle = QStringLiteral("Vexlo32");

QAction* addItem(QMenu* menu, const char* name, const QString& caption)
{
    QAction* action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

void addSeparator(QMenu* menu, const char* name)
{
    QAction* separator = menu->addSeparator();
    separator->setObjectName(QString::fromLatin1(name));
}

// The description box shows DOS text: a fixed-pitch font that has the
// box-drawing glyphs.
QFont descriptionFont()
{
    QFont font(QStringLiteral("DejaVu Sans Mono"), 9);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setWeight(QFont::Normal);
    return font;
}

} // namespace

Form1::Form1(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(kTitle);
    setWindowIcon(about::programIcon());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::CustomizeWindowHint);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        m_scale = std::max(1.0, screen->logicalDotsPerInch() / 96.0);

    m_zip = new diz::ZipComponent(this);
    m_zip->setObjectName(QStringLiteral("XceedZip1"));
    connect(m_zip, &diz::ZipComponent::Adding, this, &Form1::showZipProgress);
    connect(m_zip, &diz::ZipComponent::Status, this, &Form1::showZipProgress);

    buildControls();
    buildMenus();

    m_dizHost = std::make_unique<DizWindowHost>(*this);
    m_dizReader = std::make_unique<diz::DizReader>(*m_zip, *m_dizHost, *m_archivePane, m_state.run);
    m_dizWriter = std::make_unique<diz::DizWriter>(*m_zip, *m_dizHost, *m_archivePane, m_state.run);
    m_dizWriter->setFreeSpaceQuery([this](const QString& path) {
        m_diskInfo.setDriveLetter(path);
        return m_diskInfo.FreeSpace();
    });
    m_help = std::make_unique<about::HelpCommands>(this);

    const QSize client(int(kClientWidth * m_scale + 0.5), int(kClientHeight * m_scale + 0.5));
    m_clientArea->setFixedSize(client);
    setFixedSize(client.width(), client.height() + menuBar()->sizeHint().height());
}

Form1::~Form1() = default;

void Form1::centreOnScreen()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
}

QRect Form1::scaled(int left, int top, int width, int height) const
{
    auto s = [this](int v) { return int(v * m_scale + 0.5); };
    return QRect(s(left), s(top), s(width), s(height));
}

QPushButton* Form1::makeButton(const char* name, const QString& caption, QRect geometry)
{
    auto* button = new QPushButton(caption, m_clientArea);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(geometry);
    button->setCursor(Qt::PointingHandCursor);
    button->setAutoDefault(false);
    return button;
}

void Form1::buildControls()
{
    m_clientArea = new QWidget(this);
    m_clientArea->setObjectName(QStringLiteral("Form"));
    setCentralWidget(m_clientArea);
    m_clientArea->installEventFilter(this);

    QFont uiFont(QStringLiteral("DejaVu Sans"));
    uiFont.setPointSizeF(7.5);
    m_clientArea->setFont(uiFont);

    m_listFrame = new QGroupBox(m_clientArea);
    m_listFrame->setObjectName(QStringLiteral("Frame1"));
    m_listFrame->setGeometry(scaled(6, 0, 201, 127));
    m_listFrame->installEventFilter(this);

    m_pathLabel = new QLabel(QStringLiteral("Path"), m_listFrame);
    m_pathLabel->setObjectName(QStringLiteral("Label2"));
    m_pathLabel->setGeometry(scaled(62, 15, 27, 11));
    m_pathLabel->setAttribute(Qt::WA_TransparentForMouseEvents);

    m_pathPanel = new StatusPanel(m_listFrame);
    m_pathPanel->setObjectName(QStringLiteral("SSPanel2"));
    m_pathPanel->setGeometry(scaled(11, 27, 121, 18));
    connect(m_pathPanel, &StatusPanel::mouseDown, this, &Form1::offerFileMenu);
    connect(m_pathPanel, &StatusPanel::mouseMove, this, &Form1::showWholePathInTooltip);

    m_listLabel = new QLabel(QStringLiteral("File list"), m_listFrame);
    m_listLabel->setObjectName(QStringLiteral("Label3"));
    m_listLabel->setGeometry(scaled(56, 51, 37, 13));
    m_listLabel->setAttribute(Qt::WA_TransparentForMouseEvents);

    m_listPanel = new StatusPanel(m_listFrame);
    m_listPanel->setObjectName(QStringLiteral("SSPanel1"));
    m_listPanel->setGeometry(scaled(11, 64, 121, 18));
    connect(m_listPanel, &StatusPanel::mouseDown, this, &Form1::offerFileMenu);
    connect(m_listPanel, &StatusPanel::mouseMove, this, &Form1::showWholeListFileInTooltip);

    m_browseButton = makeButton("Command3", QStringLiteral("B&rowse"), scaled(145, 27, 52, 19));
    m_listDestinationButton =
        makeButton("Command2", QStringLiteral("&Open"), scaled(145, 64, 52, 19));
    m_viewListButton = makeButton("Command6", QStringLiteral("&View list"), scaled(41, 95, 52, 20));
    m_makeListButton = makeButton("Command4", kMakeListCaption, scaled(119, 95, 52, 19));

    m_archivePane = new ArchivePane(m_clientArea);
    m_archivePane->setObjectName(QStringLiteral("File1"));
    m_archivePane->setGeometry(scaled(214, 5, 137, 123));
    connect(m_archivePane, &ArchivePane::selectionClicked, this, &Form1::rememberSelectedArchive);
    connect(m_archivePane, &ArchivePane::mouseDown, this, &Form1::offerFileMenu);

    m_descriptionBox = new DescriptionBox(m_clientArea);
    m_descriptionBox->setObjectName(QStringLiteral("Text1"));
    m_descriptionBox->setGeometry(scaled(6, 135, 344, 120));
    m_descriptionBox->setFont(descriptionFont());
    m_descriptionBox->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_descriptionBox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_descriptionBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_descriptionBox->setTabChangesFocus(true);

    m_progressBar = new QProgressBar(m_clientArea);
    m_progressBar->setObjectName(QStringLiteral("PVProgressBar1"));
    m_progressBar->setGeometry(scaled(7, 263, 191, 19));
    m_progressBar->setRange(0, 100);
    m_progressBar->setValue(0);
    m_progressBar->setTextVisible(false);

    m_saveDizButton = makeButton("Command1", kSaveDizCaption, scaled(208, 262, 54, 21));
    m_getDizButton = makeButton("Command5", QStringLiteral("&Get diz"), scaled(285, 262, 54, 21));

    // Kept outside the visible client area.
    m_folderHolder = new FolderHolder(m_clientArea);
    m_folderHolder->setObjectName(QStringLiteral("Dir1"));
    m_folderHolder->setGeometry(-1000, -1000, 10, 10);

    // Names for assistive tools: the buttons say their captions; the
    // controls without one are named by what they hold, the two panels by
    // their labels, which are their buddies.
    m_pathLabel->setBuddy(m_pathPanel);
    m_listLabel->setBuddy(m_listPanel);
    m_pathPanel->setAccessibleName(m_pathLabel->text());
    m_listPanel->setAccessibleName(m_listLabel->text());
    m_listFrame->setAccessibleName(QStringLiteral("List"));
    m_archivePane->setAccessibleName(QStringLiteral("Files"));
    m_descriptionBox->setAccessibleName(QStringLiteral("Description"));
    m_progressBar->setAccessibleName(QStringLiteral("Progress"));
    m_folderHolder->setAccessibleName(QStringLiteral("Folder"));

    // Keyboard order: pane, box, Save diz, Get diz, Browse, Open, Make list, View list.
    QWidget* order[] = {m_archivePane,    m_descriptionBox, m_saveDizButton,
                        m_getDizButton,   m_browseButton,   m_listDestinationButton,
                        m_makeListButton, m_viewListButton};
    for (QWidget* w : order)
        w->setFocusPolicy(Qt::StrongFocus);
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
    m_pathLabel->setFocusPolicy(Qt::NoFocus);
    m_listLabel->setFocusPolicy(Qt::NoFocus);
    m_progressBar->setFocusPolicy(Qt::NoFocus);
    m_archivePane->setFocus(Qt::OtherFocusReason);
}

void Form1::buildMenus()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("menuBar"));
    bar->setNativeMenuBar(false);

    m_fileMenu = bar->addMenu(QStringLiteral("&File"));
    m_fileMenu->setObjectName(QStringLiteral("file"));
    m_browseCommand = addItem(m_fileMenu, "directory", QStringLiteral("&Path"));
    m_listDestinationCommand = addItem(m_fileMenu, "save", QStringLiteral("&Filelist..."));
    addSeparator(m_fileMenu, "dead8");
    m_viewListCommand = addItem(m_fileMenu, "viewl", QStringLiteral("&View list..."));
    m_makeListCommand = addItem(m_fileMenu, "mlist", QStringLiteral("&Make list..."));
    addSeparator(m_fileMenu, "dead1");
    m_getDizCommand = addItem(m_fileMenu, "gdiz", QStringLiteral("&Get diz..."));
    m_saveDizCommand = addItem(m_fileMenu, "sdiz", QStringLiteral("&Save diz..."));
    addSeparator(m_fileMenu, "dead5");
    m_refreshCommand = addItem(m_fileMenu, "refresh", QStringLiteral("&Refresh"));
    m_deleteCommand = addItem(m_fileMenu, "delete", QStringLiteral("&Delete"));
    addSeparator(m_fileMenu, "dead25");
    m_exitItem = addItem(m_fileMenu, "exit", QStringLiteral("E&xit"));

    m_optionsMenu = bar->addMenu(QStringLiteral("&Options"));
    m_optionsMenu->setObjectName(QStringLiteral("options"));
    m_longNamesItem = addItem(m_optionsMenu, "longfile", QStringLiteral("&Long filename format"));
    m_longNamesItem->setCheckable(true);
    m_multiLineItem = addItem(m_optionsMenu, "multi", QStringLiteral("&Multi-line file_id.diz"));
    m_multiLineItem->setCheckable(true);
    m_allKindsItem = addItem(m_optionsMenu, "allkinds", QStringLiteral("All archive &kinds"));
    m_allKindsItem->setCheckable(true);

    m_helpMenu = bar->addMenu(QStringLiteral("&Help"));
    m_helpMenu->setObjectName(QStringLiteral("help"));
    m_helpContentsItem = addItem(m_helpMenu, "contents", QStringLiteral("&Contents"));
    addSeparator(m_helpMenu, "dead2");
    m_emailItem = addItem(m_helpMenu, "email", QStringLiteral("&Email me..."));
    m_webPageItem = addItem(m_helpMenu, "web", QStringLiteral("&Web page"));
    addSeparator(m_helpMenu, "dead9");
    m_aboutItem = addItem(m_helpMenu, "about", QStringLiteral("&About"));

    connectCommand(m_saveDizCommand, m_saveDizButton, &Form1::saveDescriptionsOrAbort);
    connectCommand(m_getDizCommand, m_getDizButton, &Form1::getDescription);
    connect(m_archivePane, &QAbstractItemView::doubleClicked, m_getDizCommand, &QAction::trigger);
    connectCommand(m_browseCommand, m_browseButton, &Form1::browseForFolder);
    connectCommand(m_listDestinationCommand, m_listDestinationButton, &Form1::openListDestination);
    connectCommand(m_makeListCommand, m_makeListButton, &Form1::makeListOrAbort);
    connectCommand(m_viewListCommand, m_viewListButton, &Form1::viewList);
    connectCommand(m_refreshCommand, nullptr, &Form1::refreshPane);
    connectCommand(m_deleteCommand, nullptr, &Form1::deleteSelectedFiles);
    connect(m_exitItem, &QAction::triggered, this, &QWidget::close);
    // The long-name option has no handler: the list builder reads the check
    // mark the menu has already moved.
    connect(m_multiLineItem, &QAction::triggered, this, &Form1::setMultiLineDescriptions);
    connect(m_allKindsItem, &QAction::triggered, this, &Form1::setAllArchiveKinds);
    connect(m_helpContentsItem, &QAction::triggered, this, &Form1::showHelpContents);
    connect(m_emailItem, &QAction::triggered, this, &Form1::writeEmail);
    connect(m_webPageItem, &QAction::triggered, this, &Form1::openWebPage);
    connect(m_aboutItem, &QAction::triggered, this, &Form1::showAbout);

    applyRunState();
}

// A command's button triggers the command's action, the same action as its
// menu item in the menu bar and in the popup: whichever the user takes, it
// is one command, enabled or not as one.
void Form1::connectCommand(QAction* command, QPushButton* button, void (Form1::*handler)())
{
    if (button)
        connect(button, &QPushButton::clicked, command, &QAction::trigger);
    connect(command, &QAction::triggered, this, [this, handler] {
        if (!runWindingDown())
            (this->*handler)();
    });
}

// ---------------------------------------------------------------- run state

void Form1::setRun(Run run)
{
    m_run = run;
    m_state.run.keepRunning = run != Run::Idle;
    applyRunState();
    // A folder handed over during the run: opened once the handler that
    // ended the run has done its closing steps and the run's loop has
    // returned, from the event loop.
    if (run == Run::Idle && !m_folderAfterRun.isEmpty())
        QMetaObject::invokeMethod(this, &Form1::openFolderAfterRun, Qt::QueuedConnection);
}

void Form1::offerSaveDiz(bool offered)
{
    m_saveDizOffered = offered;
    applyRunState();
}

// What can be used in each run state. Both runs serve the window's events
// while they go on, so that their "&Abort" can be pressed; whatever would
// change the pane, the list file's name or the temporary description file,
// or start a run of its own, waits until the run is over. Make list keeps
// the pane, which shows the archive being read; Save diz keeps the box and
// View list. The menu bar's File menu waits for Make list; during Save diz
// it stays, with those of its items greyed.
void Form1::applyRunState()
{
    struct Row {
        QAction* command;
        QWidget* control;
        bool enabled[3]; // Idle, MakingList, SavingDescriptions
    };
    const Row rows[] = {
        {m_saveDizCommand, m_saveDizButton, {m_saveDizOffered, false, true}},
        {m_getDizCommand, m_getDizButton, {true, false, false}},
        {m_browseCommand, m_browseButton, {true, false, false}},
        {m_listDestinationCommand, m_listDestinationButton, {true, false, false}},
        {m_makeListCommand, m_makeListButton, {true, true, false}},
        {m_viewListCommand, m_viewListButton, {true, false, true}},
        {m_refreshCommand, nullptr, {true, false, false}},
        {m_deleteCommand, nullptr, {true, false, false}},
        {nullptr, m_archivePane, {true, true, false}},
        {nullptr, m_descriptionBox, {true, false, true}},
        {m_fileMenu->menuAction(), nullptr, {true, false, true}},
    };
    struct Look {
        const QString& makeListCaption;
        const QString& saveDizCaption;
        bool busy;
    };
    const Look looks[] = {
        {kMakeListCaption, kSaveDizCaption, false}, // Idle
        {kAbortCaption, kSaveDizCaption, true},     // MakingList
        {kMakeListCaption, kAbortCaption, true},    // SavingDescriptions
    };

    const int column = int(m_run);
    for (const Row& row : rows) {
        if (row.command)
            row.command->setEnabled(row.enabled[column]);
        if (row.control)
            row.control->setEnabled(row.enabled[column]);
    }
    const Look& look = looks[column];
    m_makeListButton->setText(look.makeListCaption);
    m_saveDizButton->setText(look.saveDizCaption);
    if (look.busy)
        setCursor(Qt::WaitCursor);
    else
        unsetCursor();
}

// An Abort gives the window back at once, but the run's loop still has to
// see it and return, and until it has it holds the pane, the list file and
// the temporary description file: no command starts meanwhile.
bool Form1::runWindingDown() const
{
    return m_run == Run::Idle && (m_listLoopRunning || (m_dizWriter && m_dizWriter->isRunning()));
}

// ---------------------------------------------------------------- start-up

bool Form1::startUp(const std::function<bool()>& handOver)
{
    // 1. Never from the root folder.
    if (platform::isRootFolder(platform::programFolder())) {
        MessageRequest request;
        request.icon = QMessageBox::Critical;
        request.title = QStringLiteral("Zandt32 error");
        request.text =
            QStringLiteral("Vexlo32 can not be run from\na root directory, please reinstall.");
        request.buttons = QMessageBox::Ok;
        showMessage(nullptr, request);
        m_startUpExitStatus = 1;
        return false;
    }

    // 2. A running instance takes over: it comes back to the front and this
    //    one ends without a window.
    if (handOver && handOver()) {
        setWindowTitle(QStringLiteral("... duplicate instance."));
        return false;
    }

    // 3. The folder the program was started with, or the archive folder of
    //    last time (the home folder at a first start); 4. the default list
    //    file.
    // The options of last time hold whichever folder opens.
    const SettingsRead settings = readSettingsFile(platform::settingsFileToRead());
    m_allKindsItem->setChecked(settings.allKinds);
    setAllArchiveKinds(settings.allKinds);
    StartupFolders folders;
    if (!m_startFolder.isEmpty()) {
        qCInfo(lcWindow).noquote() << "opening the folder" << m_startFolder;
        folders = startupFoldersAt(m_startFolder);
    } else {
        folders = startupFoldersFrom(settings);
    }
    if (!m_archivePane->setFolderPath(folders.folder) && folders.folder != platform::kRootFolder) {
        // The folder went away between the test and the listing.
        folders = startupFoldersFrom(SettingsRead());
        m_archivePane->setFolderPath(folders.folder);
    }
    m_pathPanel->showPath(folders.pathPanel, folders.folder);
    m_listPanel->showPath(folders.listPanel, folders.listFile);
    m_state.listFilePath = folders.listFile;

    // 5. and 6.
    m_state.selectedFilePath = m_archivePane->folderPath();
    m_folderHolder->setPath(m_archivePane->folderPath());
    return true;
}

void Form1::restoreFromHandOver(const QByteArray& activationToken)
{
    if (!activationToken.isEmpty())
        qputenv("XDG_ACTIVATION_TOKEN", activationToken);
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
    if (QWindow* handle = windowHandle())
        handle->requestActivate();
}

// ---------------------------------------------------------------- shutdown

void Form1::closeEvent(QCloseEvent* event)
{
    shutDown();
    event->accept(); // the close is never refused
}

void Form1::shutDown()
{
    if (m_unloaded)
        return;
    m_unloaded = true;

    // 1.-3. Whatever zip work or loop is still running comes to an end.
    m_zip->setAbortRequest(true);
    QCoreApplication::processEvents();
    setRun(Run::Idle);

    // 4. Remember the archive folder.
    rememberFolder();

    // 5. The temporary description file goes.
    const QString temp = platform::tempDizPath();
    if (platform::exists(temp))
        if (!platform::removeFile(temp))
            qCInfo(lcWindow) << "temporary description kept:" << temp << platform::lastErrorText();
}

void Form1::rememberFolder()
{
    // While a list is being made the pane shows the sub-folder being listed;
    // the folder the user chose is the one the run started from.
    const QString folder =
        m_runStartFolder.isEmpty() ? m_archivePane->folderPath() : m_runStartFolder;
    writeSettingsFile(platform::settingsFilePath(), folder, m_state.list.allKinds);
}

// ---------------------------------------------------------------- popup, tooltips, options

void Form1::offerFileMenu(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint globalPos)
{
    if (m_state.run.keepRunning)
        return;
    if (button != Qt::RightButton)
        return;
    emit popupRequested(globalPos);
    m_fileMenu->exec(globalPos);
}

// The background and the frame offer the popup for presses on themselves.
// A press that a control on them leaves unhandled travels on to them too,
// and is not theirs: the description box (it has its own edit menu), the
// buttons and the progress bar have no popup. The labels let every press
// through to the frame, so they count as the frame.
bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress &&
        (watched == m_clientArea || watched == m_listFrame)) {
        auto* area = static_cast<QWidget*>(watched);
        auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint at = mouse->globalPosition().toPoint();
        if (area->childAt(area->mapFromGlobal(at)))
            return false;
        offerFileMenu(mouse->button(), mouse->modifiers(), at);
        return mouse->button() == Qt::RightButton;
    }
    return QMainWindow::eventFilter(watched, event);
}

void Form1::showWholeListFileInTooltip()
{
    m_listPanel->setToolTip(m_listPanel->caption());
}

void Form1::showWholePathInTooltip()
{
    m_pathPanel->setToolTip(m_pathPanel->caption());
}

void Form1::setMultiLineDescriptions(bool on)
{
    m_state.list.multiLineDiz = on;
}

// Make list reads it when a run starts; Get diz at its next press.
void Form1::setAllArchiveKinds(bool on)
{
    m_state.list.allKinds = on;
    m_dizReader->setAllKinds(on);
}

// ---------------------------------------------------------------- zip progress

void Form1::showZipProgress(int completion)
{
    if (m_progressHeld)
        m_heldProgress = std::clamp(completion, 0, 100);
    else
        m_progressBar->setValue(std::clamp(completion, 0, 100));
}

void Form1::holdProgress(bool held)
{
    m_progressHeld = held;
    if (!held && m_heldProgress >= 0)
        m_progressBar->setValue(m_heldProgress);
    m_heldProgress = -1;
}

} // namespace vexlo
