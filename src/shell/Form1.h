// SPDX-License-Identifier: MIT
#pragma once

#include "diz/ZipComponent.h"
#include "platform/DiskInfo.h"
#include "shell/WindowState.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <memory>

class QAction;
class QGroupBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace vexlo {

class ArchivePane;
class DescriptionBox;
class FolderHolder;
class StatusPanel;

namespace about {
class HelpCommands;
}
namespace diz {
class DizHost;
class DizReader;
class DizWriter;
} // namespace diz
namespace pane {
class BrowseDialog;
}

// The main window. Its members and slots are named by what they do; the
// object names are those of the original form, which tests and tools look
// controls up by.
class Form1 : public QMainWindow {
    Q_OBJECT
    // True while Make list or Save diz runs (read-only; the run state sets it).
    Q_PROPERTY(bool KeepRunning READ keepRunning)

public:
    explicit Form1(QWidget* parent = nullptr);
    bool keepRunning() const { return m_state.run.keepRunning; }
    ~Form1() override;

    // Start-up: refuses to run from the root folder, hands over to a running
    // instance (handOver returns true when one took over), restores the
    // archive folder. Returns false when the program is to end without
    // showing the window.
    bool startUp(const std::function<bool()>& handOver = {});
    // The program's exit status when startUp said to end: 1 after the
    // root-folder refusal, 0 after a hand-over.
    int startUpExitStatus() const { return m_startUpExitStatus; }
    // The folder start-up opens instead of the remembered one (the folder
    // the program was started with): the real path, absolute. Its list file
    // is the default one there, as for a remembered folder.
    void setStartFolder(const QString& realFolder) { m_startFolder = realFolder; }

    // Places the window in the middle of its screen.
    void centreOnScreen();

    WindowState& state() { return m_state; }
    const WindowState& state() const { return m_state; }
    diz::ZipComponent& zip() { return *m_zip; }

    // The unscaled 96-dpi client size and the factor the layout uses.
    static constexpr int kClientWidth = 357;
    static constexpr int kClientHeight = 290;
    double scale() const { return m_scale; }

    // Brings the window back from minimised and to the front (a second start
    // asked for it).
    void restoreFromHandOver(const QByteArray& activationToken);

    // Writes the settings file with the archive folder of now. Shutdown does
    // it; so does a logout, which may not let the program close its window.
    void rememberFolder();
    // Shows a folder as the browse dialog's OK does (the folder the program
    // was started with, or one a second start handed over): the real path,
    // absolute. While a run holds the pane the folder waits, and is opened
    // when the run is over (the latest of several).
    void openFolder(const QString& realFolder);

signals:
    // The popup was asked for at this position (tests watch it).
    void popupRequested(QPoint globalPos);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    // The commands that have a button as well as a menu item
    void saveDescriptionsOrAbort(); // "Save &diz" / "&Abort", "&Save diz..."
    void openListDestination();     // "&Open", "&Filelist..."
    void browseForFolder();         // "B&rowse", "&Path"
    void makeListOrAbort();         // "&Make list" / "&Abort", "&Make list..."
    void getDescription();          // "&Get diz", "&Get diz...", a double-click in the pane
    void viewList();                // "&View list", "&View list..."

    // The other commands and menu items
    void refreshPane();
    void deleteSelectedFiles();
    void setMultiLineDescriptions(bool on);
    void setAllArchiveKinds(bool on);
    void showHelpContents();
    void writeEmail();
    void openWebPage();
    void showAbout();

    // The archive pane's selection, as the user changes it
    void rememberSelectedArchive();

    // Right-button popup and panel tooltips
    void offerFileMenu(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint globalPos);
    void showWholePathInTooltip();
    void showWholeListFileInTooltip();

    // Folder-browse dialog and zip component
    void showHighlightedFolder(const QString& folder);
    void showZipProgress(int completion);
    // While held (a list run), progress is kept and shown on release.
    void holdProgress(bool held);
    // The folder handed over during a run, once the run is over.
    void openFolderAfterRun();

private:
    // Which run is going on. It decides what can be used and what the two
    // run buttons say (applyRunState), and it is what tells the core's
    // loops to go on (RunControl::keepRunning).
    enum class Run { Idle, MakingList, SavingDescriptions };

    void buildControls();
    void buildMenus();
    void connectCommand(QAction* command, QPushButton* button, void (Form1::*handler)());
    void setRun(Run run);
    void offerSaveDiz(bool offered);
    void applyRunState();
    bool runWindingDown() const;
    void shutDown();
    QRect scaled(int left, int top, int width, int height) const;
    QPushButton* makeButton(const char* name, const QString& caption, QRect geometry);

    class DizWindowHost;
    class CatalogWindowHost;

    WindowState m_state;
    std::unique_ptr<DizWindowHost> m_dizHost;
    std::unique_ptr<diz::DizReader> m_dizReader;
    std::unique_ptr<diz::DizWriter> m_dizWriter;
    std::unique_ptr<about::HelpCommands> m_help;
    double m_scale = 1.0;
    bool m_unloaded = false;
    int m_startUpExitStatus = 0;
    QString m_startFolder;
    QString m_runStartFolder; // the folder a running Make list started from
    QString m_folderAfterRun; // handed over during a run, opened when it is over
    Run m_run = Run::Idle;
    bool m_saveDizOffered = false;  // a description was read: Save diz can be used when idle
    bool m_listLoopRunning = false; // from the start of Make list's loop until it has returned

    // Controls; object names in the comments.
    QWidget* m_clientArea = nullptr;       // "Form"
    QGroupBox* m_listFrame = nullptr;      // "Frame1": the folder, the list file and their buttons
    QLabel* m_pathLabel = nullptr;         // "Label2"
    StatusPanel* m_pathPanel = nullptr;    // "SSPanel2": the folder to list
    QLabel* m_listLabel = nullptr;         // "Label3"
    StatusPanel* m_listPanel = nullptr;    // "SSPanel1": the list file
    QPushButton* m_browseButton = nullptr; // "Command3"
    QPushButton* m_listDestinationButton = nullptr; // "Command2"
    QPushButton* m_viewListButton = nullptr;        // "Command6"
    QPushButton* m_makeListButton = nullptr;        // "Command4"
    ArchivePane* m_archivePane = nullptr;           // "File1"
    DescriptionBox* m_descriptionBox = nullptr;     // "Text1"
    QProgressBar* m_progressBar = nullptr;          // "PVProgressBar1"
    bool m_progressHeld = false;
    int m_heldProgress = -1;                      // the last value given while held
    QPushButton* m_saveDizButton = nullptr;       // "Command1"
    QPushButton* m_getDizButton = nullptr;        // "Command5"
    FolderHolder* m_folderHolder = nullptr;       // "Dir1"
    diz::ZipComponent* m_zip = nullptr;           // "XceedZip1"
    pane::BrowseDialog* m_browseDialog = nullptr; // "BrowseDialog1", made on first use
    platform::DiskInfo m_diskInfo;

    // Menus, commands and items; object names in the comments. A command
    // is one action for its menu item, its button and the popup.
    QMenu* m_fileMenu = nullptr;                 // "file"
    QMenu* m_optionsMenu = nullptr;              // "options"
    QMenu* m_helpMenu = nullptr;                 // "help"
    QAction* m_browseCommand = nullptr;          // "directory"
    QAction* m_listDestinationCommand = nullptr; // "save"
    QAction* m_viewListCommand = nullptr;        // "viewl"
    QAction* m_makeListCommand = nullptr;        // "mlist"
    QAction* m_getDizCommand = nullptr;          // "gdiz"
    QAction* m_saveDizCommand = nullptr;         // "sdiz"
    QAction* m_refreshCommand = nullptr;         // "refresh"
    QAction* m_deleteCommand = nullptr;          // "delete"
    QAction* m_exitItem = nullptr;               // "exit"
    QAction* m_longNamesItem = nullptr;          // "longfile"
    QAction* m_multiLineItem = nullptr;          // "multi"
    QAction* m_allKindsItem = nullptr;           // "allkinds"
    QAction* m_helpContentsItem = nullptr;       // "contents"
    QAction* m_emailItem = nullptr;              // "email"
    QAction* m_webPageItem = nullptr;            // "web"
    QAction* m_aboutItem = nullptr;              // "about"
};

} // namespace vexlo
