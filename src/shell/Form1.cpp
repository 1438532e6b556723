#include "shell/Form1.h"

#include "about/HelpCommands.h"
#include "about/ProgramIcon.h"
#include "diz/DizReader.h"
#include "diz/DizWriter.h"
#include "pane/ArchivePane.h"
#include "pane/FolderHolder.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "shell/DescriptionBox.h"
#include "shell/Form1DizHost.h"
#include "shell/MessageBoxes.h"
#include "shell/StatusPanel.h"
#include "platform/Settings.h"

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

}  // namespace

Form1::Form1(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(kTitle);
    setWindowIcon(about::programIcon());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint
                   | Qt::CustomizeWindowHint);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        m_scale = std::max(1.0, screen->logicalDotsPerInch() / 96.0);

    XceedZip1 = new diz::ZipComponent(this);
    XceedZip1->setObjectName(QStringLiteral("XceedZip1"));
    connect(XceedZip1, &diz::ZipComponent::Adding, this, &Form1::XceedZip1_Adding);
    connect(XceedZip1, &diz::ZipComponent::Status, this, &Form1::XceedZip1_Status);

    buildControls();
    buildMenus();

    m_dizHost = std::make_unique<DizWindowHost>(*this);
    m_dizReader = std::make_unique<diz::DizReader>(*XceedZip1, *m_dizHost, *File1, m_state.run);
    m_dizWriter = std::make_unique<diz::DizWriter>(*XceedZip1, *m_dizHost, *File1, m_state.run);
    m_dizWriter->setFreeSpaceQuery([this](const QString& path) {
        DiskInfo1.setDriveLetter(path);
        return DiskInfo1.FreeSpace();
    });
    m_help = std::make_unique<about::HelpCommands>(this);

    const QSize client(int(kClientWidth * m_scale + 0.5), int(kClientHeight * m_scale + 0.5));
    Form->setFixedSize(client);
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
    auto* button = new QPushButton(caption, Form);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(geometry);
    button->setCursor(Qt::PointingHandCursor);
    button->setAutoDefault(false);
    return button;
}

void Form1::buildControls()
{
    Form = new QWidget(this);
    Form->setObjectName(QStringLiteral("Form"));
    setCentralWidget(Form);
    Form->installEventFilter(this);

    QFont uiFont(QStringLiteral("DejaVu Sans"));
    uiFont.setPointSizeF(7.5);
    Form->setFont(uiFont);

    Frame1 = new QGroupBox(Form);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setGeometry(scaled(6, 0, 201, 127));
    Frame1->installEventFilter(this);

    Label2 = new QLabel(QStringLiteral("Path"), Frame1);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(scaled(62, 15, 27, 11));
    Label2->setAttribute(Qt::WA_TransparentForMouseEvents);

    SSPanel2 = new StatusPanel(Frame1);
    SSPanel2->setObjectName(QStringLiteral("SSPanel2"));
    SSPanel2->setGeometry(scaled(11, 27, 121, 18));
    connect(SSPanel2, &StatusPanel::mouseDown, this, &Form1::SSPanel2_MouseDown);
    connect(SSPanel2, &StatusPanel::mouseMove, this, &Form1::SSPanel2_MouseMove);

    Label3 = new QLabel(QStringLiteral("File list"), Frame1);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setGeometry(scaled(56, 51, 37, 13));
    Label3->setAttribute(Qt::WA_TransparentForMouseEvents);

    SSPanel1 = new StatusPanel(Frame1);
    SSPanel1->setObjectName(QStringLiteral("SSPanel1"));
    SSPanel1->setGeometry(scaled(11, 64, 121, 18));
    connect(SSPanel1, &StatusPanel::mouseDown, this, &Form1::SSPanel1_MouseDown);
    connect(SSPanel1, &StatusPanel::mouseMove, this, &Form1::SSPanel1_MouseMove);

    Command3 = makeButton("Command3", QStringLiteral("B&rowse"), scaled(145, 27, 52, 19));
    Command2 = makeButton("Command2", QStringLiteral("&Open"), scaled(145, 64, 52, 19));
    Command6 = makeButton("Command6", QStringLiteral("&View list"), scaled(41, 95, 52, 20));
    Command4 = makeButton("Command4", QStringLiteral("&Make list"), scaled(119, 95, 52, 19));

    File1 = new ArchivePane(Form);
    File1->setObjectName(QStringLiteral("File1"));
    File1->setGeometry(scaled(214, 5, 137, 123));
    connect(File1, &ArchivePane::selectionClicked, this, &Form1::File1_Click);
    connect(File1, &QAbstractItemView::doubleClicked, this, &Form1::File1_DblClick);
    connect(File1, &ArchivePane::mouseDown, this, &Form1::File1_MouseDown);

    Text1 = new DescriptionBox(Form);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(scaled(6, 135, 344, 120));
    Text1->setFont(descriptionFont());
    Text1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setTabChangesFocus(true);

    PVProgressBar1 = new QProgressBar(Form);
    PVProgressBar1->setObjectName(QStringLiteral("PVProgressBar1"));
    PVProgressBar1->setGeometry(scaled(7, 263, 191, 19));
    PVProgressBar1->setRange(0, 100);
    PVProgressBar1->setValue(0);
    PVProgressBar1->setTextVisible(false);

    Command1 = makeButton("Command1", QStringLiteral("Save &diz"), scaled(208, 262, 54, 21));
    Command1->setEnabled(false);
    Command5 = makeButton("Command5", QStringLiteral("&Get diz"), scaled(285, 262, 54, 21));

    // Kept outside the visible client area.
    Dir1 = new FolderHolder(Form);
    Dir1->setObjectName(QStringLiteral("Dir1"));
    Dir1->setGeometry(-1000, -1000, 10, 10);

    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(Command6, &QPushButton::clicked, this, &Form1::Command6_Click);

    // Keyboard order: pane, box, Save diz, Get diz, Browse, Open, Make list, View list.
    QWidget* order[] = {File1, Text1, Command1, Command5, Command3, Command2, Command4, Command6};
    for (QWidget* w : order)
        w->setFocusPolicy(Qt::StrongFocus);
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
    Label2->setFocusPolicy(Qt::NoFocus);
    Label3->setFocusPolicy(Qt::NoFocus);
    PVProgressBar1->setFocusPolicy(Qt::NoFocus);
    File1->setFocus(Qt::OtherFocusReason);
}

void Form1::buildMenus()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("menuBar"));
    bar->setNativeMenuBar(false);

    file = bar->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("file"));
    directory = addItem(file, "directory", QStringLiteral("&Path"));
    save = addItem(file, "save", QStringLiteral("&Filelist..."));
    addSeparator(file, "dead8");
    viewl = addItem(file, "viewl", QStringLiteral("&View list..."));
    mlist = addItem(file, "mlist", QStringLiteral("&Make list..."));
    addSeparator(file, "dead1");
    gdiz = addItem(file, "gdiz", QStringLiteral("&Get diz..."));
    sdiz = addItem(file, "sdiz", QStringLiteral("&Save diz..."));
    sdiz->setEnabled(false);
    addSeparator(file, "dead5");
    refresh = addItem(file, "refresh", QStringLiteral("&Refresh"));
    deleteItem = addItem(file, "delete", QStringLiteral("&Delete"));
    addSeparator(file, "dead25");
    exitItem = addItem(file, "exit", QStringLiteral("E&xit"));

    options = bar->addMenu(QStringLiteral("&Options"));
    options->setObjectName(QStringLiteral("options"));
    longfile = addItem(options, "longfile", QStringLiteral("&Long filename format"));
    longfile->setCheckable(true);
    multi = addItem(options, "multi", QStringLiteral("&Multi-line file_id.diz"));
    multi->setCheckable(true);

    help = bar->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("help"));
    contents = addItem(help, "contents", QStringLiteral("&Contents"));
    addSeparator(help, "dead2");
    email = addItem(help, "email", QStringLiteral("&Email me..."));
    web = addItem(help, "web", QStringLiteral("&Web page"));
    addSeparator(help, "dead9");
    about = addItem(help, "about", QStringLiteral("&About"));

    connect(directory, &QAction::triggered, this, &Form1::directory_Click);
    connect(save, &QAction::triggered, this, &Form1::save_Click);
    connect(viewl, &QAction::triggered, this, &Form1::viewl_Click);
    connect(mlist, &QAction::triggered, this, &Form1::mlist_Click);
    connect(gdiz, &QAction::triggered, this, &Form1::gdiz_Click);
    connect(sdiz, &QAction::triggered, this, &Form1::sdiz_Click);
    connect(refresh, &QAction::triggered, this, &Form1::refresh_Click);
    connect(deleteItem, &QAction::triggered, this, &Form1::delete_Click);
    connect(exitItem, &QAction::triggered, this, &Form1::exit_Click);
    connect(longfile, &QAction::triggered, this, &Form1::longfile_Click);
    connect(multi, &QAction::triggered, this, &Form1::multi_Click);
    connect(contents, &QAction::triggered, this, &Form1::contents_Click);
    connect(email, &QAction::triggered, this, &Form1::email_Click);
    connect(web, &QAction::triggered, this, &Form1::web_Click);
    connect(about, &QAction::triggered, this, &Form1::about_Click);
}

// ---------------------------------------------------------------- start-up

bool Form1::Form_Load(const std::function<bool()>& handOver)
{
    // 1. Never from the root folder.
    if (platform::isRootFolder(platform::programFolder())) {
        MessageRequest request;
        request.icon = QMessageBox::Critical;
        request.title = QStringLiteral("Zandt32 error");
        request.text = QStringLiteral("Vexlo32 can not be run from\na root directory, please reinstall.");
        request.buttons = QMessageBox::Ok;
        showMessage(nullptr, request);
        m_loadExitStatus = 1;
        return false;
    }

    // 2. A running instance takes over: it comes back to the front and this
    //    one ends without a window.
    if (handOver && handOver()) {
        setWindowTitle(QStringLiteral("... duplicate instance."));
        return false;
    }

    // 3. The archive folder of last time; 4. the default list file.
    const StartupFolders folders = startupFoldersFrom(readSettingsFile(platform::settingsFilePath()));
    SSPanel2->setCaption(folders.pathPanel);
    if (!File1->setFolderPath(folders.paneFolder) && folders.paneFolder != platform::kRootFolder) {
        // The folder went away between the test and the listing.
        SSPanel2->setCaption(platform::kRootFolder);
        File1->setFolderPath(platform::kRootFolder);
    }
    SSPanel1->setCaption(defaultListFile(SSPanel2->caption()));
    m_state.listFilePath = SSPanel1->caption();

    // 5. and 6.
    m_state.selectedFilePath = platform::lowerPath(File1->folderPath());
    Dir1->setPath(File1->folderPath());
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
    Form_Unload();
    event->accept();  // the close is never refused
}

void Form1::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;

    // 1.-3. Whatever zip work or loop is still running comes to an end.
    XceedZip1->setAbortRequest(true);
    QCoreApplication::processEvents();
    m_state.run.keepRunning = false;

    // 4. Remember the archive folder. While a list is being made the pane
    //    shows the sub-folder being listed; the folder the user chose is the
    //    one the run started from.
    const QString folder = m_runStartFolder.isEmpty() ? File1->folderPath() : m_runStartFolder;
    writeSettingsFile(platform::settingsFilePath(), folder);

    // 5. The temporary description file goes.
    const QString temp = platform::tempDizPath();
    if (platform::exists(temp))
        platform::removeFile(temp);
}

void Form1::exit_Click()
{
    close();
}

// ---------------------------------------------------------------- popup, tooltips, options

void Form1::showPopup(Qt::MouseButton button, QPoint globalPos)
{
    if (m_state.run.keepRunning)
        return;
    if (button != Qt::RightButton)
        return;
    emit popupRequested(globalPos);
    file->exec(globalPos);
}

void Form1::File1_MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint globalPos)
{
    showPopup(button, globalPos);
}

void Form1::Form_MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint globalPos)
{
    showPopup(button, globalPos);
}

void Form1::Frame1_MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint globalPos)
{
    showPopup(button, globalPos);
}

void Form1::SSPanel1_MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint globalPos)
{
    showPopup(button, globalPos);
}

void Form1::SSPanel2_MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint globalPos)
{
    showPopup(button, globalPos);
}

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress && (watched == Form || watched == Frame1)) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint at = mouse->globalPosition().toPoint();
        if (watched == Form)
            Form_MouseDown(mouse->button(), mouse->modifiers(), at);
        else
            Frame1_MouseDown(mouse->button(), mouse->modifiers(), at);
        return mouse->button() == Qt::RightButton;
    }
    return QMainWindow::eventFilter(watched, event);
}

void Form1::SSPanel1_MouseMove()
{
    SSPanel1->setToolTip(SSPanel1->caption());
}

void Form1::SSPanel2_MouseMove()
{
    SSPanel2->setToolTip(SSPanel2->caption());
}

void Form1::longfile_Click()
{
    // The menu has already moved the check mark; nothing else depends on it
    // until the list builder reads it.
}

void Form1::multi_Click()
{
    m_state.list.multiLineDiz = multi->isChecked();
}

// ---------------------------------------------------------------- forwarders

// Save diz leaves the menus as they are and serves the window's events
// between archives, so that "&Abort" can be pressed. A menu command that
// would change the pane, overwrite the temporary description file or start
// a run of its own is not carried out meanwhile: in the middle of a run it
// could send the rest of the description to other archives, or another
// description to the rest.
bool Form1::savingDescriptions() const
{
    return m_dizWriter && m_dizWriter->isRunning();
}

void Form1::directory_Click()
{
    if (!savingDescriptions())
        Command3_Click();
}
void Form1::save_Click()
{
    if (!savingDescriptions())
        Command2_Click();
}
void Form1::viewl_Click() { Command6_Click(); }
void Form1::mlist_Click()
{
    if (!savingDescriptions())
        Command4_Click();
}
void Form1::gdiz_Click()
{
    if (!savingDescriptions())
        File1_DblClick();
}
void Form1::Command5_Click() { File1_DblClick(); }
void Form1::sdiz_Click() { Command1_Click(); }

// ---------------------------------------------------------------- zip progress

void Form1::XceedZip1_Adding(int completion)
{
    PVProgressBar1->setValue(std::clamp(completion, 0, 100));
}

void Form1::XceedZip1_Status(int completion)
{
    PVProgressBar1->setValue(std::clamp(completion, 0, 100));
}

}  // namespace vexlo
