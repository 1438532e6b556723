#pragma once

#include "platform/DiskInfo.h"
#include "diz/ZipComponent.h"
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
}  // namespace diz
namespace pane {
class BrowseDialog;
}

// The main window. Its slots are the event handlers, named after the control
// and the event; menu items that duplicate a button call that button's slot.
class Form1 : public QMainWindow {
    Q_OBJECT

public:
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    // Start-up: refuses to run from the root folder, hands over to a running
    // instance (handOver returns true when one took over), restores the
    // archive folder. Returns false when the program is to end without
    // showing the window.
    bool Form_Load(const std::function<bool()>& handOver = {});
    // The program's exit status when Form_Load said to end: 1 after the
    // root-folder refusal, 0 after a hand-over.
    int loadExitStatus() const { return m_loadExitStatus; }

    // Places the window in the middle of its screen.
    void centreOnScreen();

    WindowState& state() { return m_state; }
    const WindowState& state() const { return m_state; }
    diz::ZipComponent& zip() { return *XceedZip1; }
    about::HelpCommands& helpCommands() { return *m_help; }
    diz::DizWriter& dizWriter() { return *m_dizWriter; }
    bool savingDescriptions() const; // a Save diz run is going on
    diz::DizReader& dizReader() { return *m_dizReader; }

    // The unscaled 96-dpi client size and the factor the layout uses.
    static constexpr int kClientWidth = 357;
    static constexpr int kClientHeight = 290;
    double scale() const { return m_scale; }

public slots:
    // Buttons
    void Command1_Click();  // "Save &diz" / "&Abort"
    void Command2_Click();  // "&Open"
    void Command3_Click();  // "B&rowse"
    void Command4_Click();  // "&Make list" / "&Abort"
    void Command5_Click();  // "&Get diz"
    void Command6_Click();  // "&View list"

    // Archive pane
    void File1_Click();
    void File1_DblClick();

    // Menu items
    void directory_Click();
    void save_Click();
    void viewl_Click();
    void mlist_Click();
    void gdiz_Click();
    void sdiz_Click();
    void refresh_Click();
    void delete_Click();
    void exit_Click();
    void longfile_Click();
    void multi_Click();
    void contents_Click();
    void email_Click();
    void web_Click();
    void about_Click();

    // Right-button popup and panel tooltips
    void File1_MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint globalPos);
    void Form_MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint globalPos);
    void Frame1_MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint globalPos);
    void SSPanel1_MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint globalPos);
    void SSPanel2_MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint globalPos);
    void SSPanel1_MouseMove();
    void SSPanel2_MouseMove();

    // Folder-browse dialog and zip component
    void BrowseDialog1_SelectionChanged(const QString& path, int reserved);
    void XceedZip1_Adding(int completion);
    void XceedZip1_Status(int completion);

    // Shutdown
    void Form_Unload();

    // Brings the window back from minimised and to the front (a second start
    // asked for it).
    void restoreFromHandOver(const QByteArray& activationToken);

signals:
    // The popup was asked for at this position (tests watch it).
    void popupRequested(QPoint globalPos);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void buildMenus();
    void showPopup(Qt::MouseButton button, QPoint globalPos);
    QRect scaled(int left, int top, int width, int height) const;
    QPushButton* makeButton(const char* name, const QString& caption, QRect geometry);

    class DizWindowHost;

    WindowState m_state;
    std::unique_ptr<DizWindowHost> m_dizHost;
    std::unique_ptr<diz::DizReader> m_dizReader;
    std::unique_ptr<diz::DizWriter> m_dizWriter;
    std::unique_ptr<about::HelpCommands> m_help;
    double m_scale = 1.0;
    bool m_unloaded = false;
    int m_loadExitStatus = 0;
    QString m_runStartFolder;  // the folder a running Make list started from

public:
    // Controls, by their names.
    QWidget* Form = nullptr;  // the client area
    QGroupBox* Frame1 = nullptr;
    QLabel* Label2 = nullptr;
    StatusPanel* SSPanel2 = nullptr;
    QLabel* Label3 = nullptr;
    StatusPanel* SSPanel1 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command6 = nullptr;
    QPushButton* Command4 = nullptr;
    ArchivePane* File1 = nullptr;
    DescriptionBox* Text1 = nullptr;
    QProgressBar* PVProgressBar1 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command5 = nullptr;
    FolderHolder* Dir1 = nullptr;
    diz::ZipComponent* XceedZip1 = nullptr;
    pane::BrowseDialog* BrowseDialog1 = nullptr;  // made on first use
    platform::DiskInfo DiskInfo1;

    // Menus and items
    QMenu* file = nullptr;
    QMenu* options = nullptr;
    QMenu* help = nullptr;
    QAction* directory = nullptr;
    QAction* save = nullptr;
    QAction* viewl = nullptr;
    QAction* mlist = nullptr;
    QAction* gdiz = nullptr;
    QAction* sdiz = nullptr;
    QAction* refresh = nullptr;
    QAction* deleteItem = nullptr;  // "delete" is a C++ keyword; object name "delete"
    QAction* exitItem = nullptr;    // object name "exit"
    QAction* longfile = nullptr;
    QAction* multi = nullptr;
    QAction* contents = nullptr;
    QAction* email = nullptr;
    QAction* web = nullptr;
    QAction* about = nullptr;
};

}  // namespace vexlo
