#pragma once
// CUpdaterDlg: the main dialog and the owner of all run state. Its operations are members, each
// defined in the folder of the subsystem it belongs to:
//   app/     construction, initialisation, handlers, blink timer, close guard
//   files/   parameter file, update-set discovery
//   link/    socket exchange, FTP control session, FTP data transfer, telnet session
//   update/  update run, component upload step, default-setting step
//
// Threads: the dialog's thread runs the handlers; one worker thread per run runs RunUpdate. The
// worker's changes to controls are carried to the dialog's thread by the platform layer. The
// shared integers are atomics so that the two threads see each other's writes; nothing locks.

#include "app/run_record.h"
#include "files/activity_log.h"
#include "link/reply_buffer.h"
#include "link/reply_reader.h"
#include "platform/dialog.h"
#include "platform/socket.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// Steps of a run (m_nUpdateStep).
enum UpdateStep : int {
    kStepBetween = -1,
    kStepNone = 0,
    kStepCpu = 1,
    kStepFpga5m = 2,
    kStepResizeFpga = 3,
    kStepWeb0 = 4,
    kStepWeb1 = 5,
    kStepCursor = 6,
    kStepIcon = 7,
    kStepShading = 8,
    kStepGamma = 9,
    kStepScene = 10,
    kStepLogo = 11,
    kStepDefaultSetting = 12,
    kStepConnecting = 13,
    kStepFpga2m = 14,
};

// Results of a run and of each of its steps.
enum RunResult : int { kRunOk = 0, kRunEndProgram = 1, kRunRetry = 2 };

// How far a run got with the unit (m_nUnitContact). A unit still at kContactTried when its run
// ended was sent nothing: it never answered its FTP connection (off, restarting, port down), so a
// front end may try it again; once it has answered, a failed run is the unit's own verdict.
enum UnitContact : int { kContactNone = 0, kContactTried = 1, kContactAnswered = 2 };

// How long ReceiveReply waits for the unit.
enum class ReplyWait {
    Ordinary, // 60 s
    Writing,  // 10 min: the reply to a write command or to the end of a transfer
};

class ComponentStore;
class FolderListing;

class CUpdaterDlg : public platform::CDialog {
  public:
    // The dialog of the program: the backend's window, "KQVorlink.log" in the current directory
    // and component files read afresh by every run.
    CUpdaterDlg();
    // A run hosted elsewhere (one unit of a fleet): its own window, its own log, and component
    // files read once and shared with the other runs of the process.
    CUpdaterDlg(const platform::HostFactory& makeHost, std::string logPath,
                std::shared_ptr<ComponentStore> components, bool keepLogAfterSuccess = false);
    ~CUpdaterDlg() override;

    // ---- app/ ----
    bool OnInitDialog() override;
    void OnCommand(int id, int notifyCode) override;
    void OnTimer(unsigned timerId) override;
    void OnClose() override;
    void OnOK() override;
    void OnCancel() override;
    bool OnSysCommand(unsigned commandId) override;
    bool OnPaint() override;
    std::optional<uint32_t> OnCtlColor(int id, platform::ControlKind kind) override;
    void OnUpdateButton();
    void OnExitButton();
    void OnChangeIp(int fieldId);
    // Joins a finished worker thread (the destructor does too).
    void JoinWorker();

    // ---- files/ ----
    void ApplyParamFile(const char* text);
    void FindUpdateFiles();
    void ScanCpuFile(const FolderListing& folder);
    void ScanFpga5mFile(const FolderListing& folder);
    void ScanResizeFpgaFile(const FolderListing& folder);
    void ScanWeb0Files(const FolderListing& folder);
    void ScanWeb1Files(const FolderListing& folder);
    void ScanCursorFiles(const FolderListing& folder);
    void ScanIconFiles(const FolderListing& folder);
    void ScanShadingFiles(const FolderListing& folder);
    void ScanGammaFiles(const FolderListing& folder);
    void ScanSceneFiles(const FolderListing& folder);
    void ScanLogoFile(const FolderListing& folder);
    void ScanFpga2mFile(const FolderListing& folder);
    // Takes over what another run's discovery and parameter file found (a fleet discovers once).
    void AdoptUpdateSet(const CUpdaterDlg& from);

    // ---- link/ ----
    int SendCommand(const platform::Socket& socket, const void* data, uint32_t length,
                    int showProgress);
    // SendCommand without reporting a failure: false with the socket error set.
    bool SendAll(const platform::Socket& socket, const void* data, uint32_t length,
                 int showProgress);
    int ReceiveReply(const platform::Socket& socket, ReplyBuffer& buffer, int& receivedLength,
                     int tolerateFailed500, ReplyWait wait = ReplyWait::Ordinary);
    // Reads the next whole reply into buffer and logs it, without judging it.
    ReplyEnd ReadReply(const platform::Socket& socket, ReplyBuffer& buffer, ReplyWait wait);
    // Reads and judges every reply that has arrived while none was awaited (an extra reply to
    // an earlier command, or one the unit sent unasked): 0, or 1 after a refusal or a failed
    // receive. A connection that the unit has closed is left for the next exchange to find.
    int ReadUnaskedReplies(const platform::Socket& socket);
    // Whether bytes of a reply have arrived that no reply read has taken yet.
    bool HasUnreadReply(const platform::Socket& socket);
    static int WaitReadable(const platform::Socket& socket);
    // Connects (attempts tries) and logs in: 0, or 1/2 as ConnectFtp.
    int LogInFtp(int attempts);
    int ConnectFtp(int attempts);
    int IdentifyDevice(char* modelText, char* versionText);
    int EnterUpdateMode();
    int SendFileOverData(const uint8_t* data, uint32_t length, const char* remoteName,
                         int showProgress);
    int ConnectTelnet();
    // Logs a command with caption "PC -> Device", sends it without progress, and receives and
    // judges its reply: 0 or 1.
    int Exchange(const platform::Socket& socket, const char* command, ReplyBuffer& reply,
                 int tolerateFailed500, ReplyWait wait = ReplyWait::Ordinary);
    // Logs a text with a caption and shows it in a stop-icon box.
    void ReportError(const char* text, const char* caption);
    // Logs the current socket error with a caption and shows it in a stop-icon box.
    void ReportSocketError(const char* caption);
    void StopBlinkTimer();
    // Shows the platform's text for a file error in a warning box without owner and logs it.
    void ShowFileError(uint32_t code);
    // Writes one entry to this run's activity log.
    void WriteLog(const char* text, int /*length*/, const char* caption) {
        m_log.Write(text, caption);
    }
    void WriteLog(const std::string& text, const char* caption) {
        m_log.Write(text.c_str(), caption);
    }

    // ---- update/ ----
    static void UpdateWorker(CUpdaterDlg* dialog);
    int RunUpdate();
    int UpdateComponent(int step);
    int SetDefaultData();

    // ---- state, in declaration order ----
    platform::IconHandle m_hIcon = nullptr;
    std::atomic<int> m_bUpdateDone{0};
    std::atomic<int> m_bRunning{0};
    std::thread m_pWorkerThread;
    int m_bDefaultSetting = 0;
    std::string m_pszCpuFile; // empty: none found
    std::string m_pszFpga5mFile;
    std::string m_pszResizeFpgaFile;
    std::vector<std::string> m_arrWeb0Files;
    std::vector<std::string> m_arrWeb1Files;
    std::vector<std::string> m_arrCursorFiles;
    std::vector<std::string> m_arrIconFiles;
    std::vector<std::string> m_arrShadingFiles;
    std::vector<std::string> m_arrGammaFiles;
    std::vector<std::string> m_arrSceneFiles;
    std::string m_pszLogoFile;
    std::string m_pszFpga2mFile;
    platform::CFont m_fontNormal;
    platform::CFont m_fontBold;
    char m_szModel[6] = {};
    char
        m_szDeviceVersion[65538]; // terminated at [0] by the constructor; untouched beyond the text
    int m_nDeviceVersion = 0;
    int m_nCpuFileVersion = 0;
    std::atomic<int> m_nUpdateStep{0};
    std::atomic<unsigned> m_nTimerId{0};
    int m_bDataFound = 0;
    platform::Socket m_sockCtrl;
    platform::SockAddrIn m_addrCtrl;
    platform::Socket m_sockTelnet;
    platform::SockAddrIn m_addrTelnet;
    std::optional<std::vector<uint32_t>> m_pLocalHost; // addresses of the local host entry
    uint32_t m_ulDeviceAddr = 0;
    ActivityLog m_log;
    std::shared_ptr<ComponentStore> m_pComponents;
    bool m_bLabelsShown = true;   // the blink phase: starts shown, carries over between runs
    std::string m_strDeviceModel; // the model the unit named this run (a front end shows it)
    std::string m_strUnitVersion; // its version text at the last identification (UnitVersionText)
    RunRecord m_record;           // what the unit confirmed this run (a front end reports it)
    std::atomic<int> m_nUnitContact{kContactNone}; // of the current (or last) run
    // What arrived on each connection behind the last reply read: the start of the next.
    UnreadBytes m_unreadCtrl;
    UnreadBytes m_unreadTelnet;

  private:
    void Construct(); // what both constructors do
    UnreadBytes& UnreadOf(const platform::Socket& socket) {
        return &socket == &m_sockTelnet ? m_unreadTelnet : m_unreadCtrl;
    }
};
