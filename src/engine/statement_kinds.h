// The statement kinds the engine knows: the source of truth for the interpreter's dispatch,
// validation, the dialog count and the builder. The setup data reader resolves each
// statement's kind once.
// StatementNames entries are compared with these names exactly (case-sensitive). A name
// that matches none of them (for example "Code Folding Region" or
// "Compiler Variable End") and is not a plug-in statement does nothing.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace kem {

// Which part of the engine carries a kind out.
enum class StatementGroup {
  ControlFlow,         // interpreter loop
  VariablesAndStrings,
  Termination,
  Dialogs,
  MessageBoxes,
  Components,
  DeferredChanges,     // system-change statements committed by "Apply Changes"
  InstallerSession,
  ArchiveExtraction,
  WebMedia,
  Files,
  Registry,
  ProgramExecution,
  PeripheralServices,
};

// X(identifier, "name", group)
#define KEM_STATEMENT_KINDS(X)                                              \
  X(If, "If", ControlFlow)                                                  \
  X(Else, "Else", ControlFlow)                                              \
  X(ElseIf, "Else If", ControlFlow)                                         \
  X(End, "End", ControlFlow)                                                \
  X(WizardLoop, "Wizard Loop", ControlFlow)                                 \
  X(Label, "Label", ControlFlow)                                            \
  X(GoToLabel, "GoTo Label", ControlFlow)                                   \
  X(Comment, "Comment", ControlFlow)                                        \
  X(Ignore, "Ignore", ControlFlow)                                          \
  X(SetVariable, "Set Variable", VariablesAndStrings)                       \
  X(LocalizationVariable, "Localization Variable", VariablesAndStrings)     \
  X(GetEnvironment, "Get Environment", VariablesAndStrings)                 \
  X(GetTemporaryFile, "Get Temporary File", VariablesAndStrings)            \
  X(ConvertPath, "Convert Path", VariablesAndStrings)                       \
  X(ConvertCase, "Convert Case", VariablesAndStrings)                       \
  X(ReplaceString, "Replace String", VariablesAndStrings)                   \
  X(ExtractPath, "Extract Path", VariablesAndStrings)                       \
  X(ParseString, "Parse String", VariablesAndStrings)                       \
  X(Mathematics, "Mathematics", VariablesAndStrings)                        \
  X(EvaluateExpression, "Evaluate Expression", VariablesAndStrings)         \
  X(TerminateInstall, "Terminate Install", Termination)                     \
  X(TerminateWithExitCode, "Terminate with Exit Code", Termination)         \
  X(RebootComputer, "Reboot Computer", Termination)                         \
  X(RebootAndResume, "Reboot and Resume", Termination)                      \
  X(DisplayDialog, "Display Dialog", Dialogs)                               \
  X(HideDialog, "Hide Dialog", Dialogs)                                     \
  X(MessageBox, "MessageBox", MessageBoxes)                                 \
  X(MessageBalloon, "MessageBalloon", MessageBoxes)                         \
  X(SystemTray, "System Tray", MessageBoxes)                                \
  X(DefineComponent, "Define Component", Components)                        \
  X(DeleteComponent, "Delete Component", Components)                        \
  X(GetComponentState, "Get Component State", Components)                   \
  X(GetComponentSpace, "Get Component Space", Components)                   \
  X(SetComponentState, "Set Component State", Components)                   \
  X(SetComponentSpace, "Set Component Space", Components)                   \
  X(SetComponentChoice, "Set Component Choice", Components)                 \
  X(SetComponentVisibility, "Set Component Visibility", Components)         \
  X(InstallFiles, "Install Files", DeferredChanges)                         \
  X(CreateShortcut, "Create Shortcut", DeferredChanges)                     \
  X(AdvertisedShortcut, "Advertised Shortcut", DeferredChanges)             \
  X(CreateFolder, "Create Folder", DeferredChanges)                         \
  X(WriteRegistry, "Write Registry", DeferredChanges)                       \
  X(DeleteRegistry, "Delete Registry", DeferredChanges)                     \
  X(CreateFileType, "Create File Type", DeferredChanges)                    \
  X(AdvertisedFileType, "Advertised File Type", DeferredChanges)            \
  X(CopyMoveLocalFiles, "Copy/Move Local Files", DeferredChanges)           \
  X(DeleteFiles, "Delete Files", DeferredChanges)                           \
  X(EditIniFile, "Edit INI File", DeferredChanges)                          \
  X(SetEnvironment, "Set Environment", DeferredChanges)                     \
  X(InstallAssembly, "Install Assembly", DeferredChanges)                   \
  X(InstallService, "Install Service", DeferredChanges)                     \
  X(ControlService, "Control Service", DeferredChanges)                     \
  X(InstallOdbcDriver, "Install ODBC Driver", DeferredChanges)              \
  X(CreateOdbcDsn, "Create ODBC DSN", DeferredChanges)                      \
  X(TerminateProgram, "Terminate Program", DeferredChanges)                 \
  X(CheckProcess, "Check Process", DeferredChanges)                         \
  X(CheckService, "Check Service", DeferredChanges)                         \
  X(IsMsiSetupInstalled, "Is MSI Setup Installed", DeferredChanges)         \
  X(Set64BitMode, "Set 64 Bit Mode", DeferredChanges)                       \
  X(TransformInstance, "Transform Instance", DeferredChanges)               \
  X(SaveFeatureSelections, "Save Feature Selections", DeferredChanges)      \
  X(LoadFeatureSelections, "Load Feature Selections", DeferredChanges)      \
  X(CreateShare, "Create Share", DeferredChanges)                           \
  X(DeleteShare, "Delete Share", DeferredChanges)                           \
  X(SetAccessControl, "Set Access Control", DeferredChanges)                \
  X(ScheduleTask, "Schedule Task", DeferredChanges)                         \
  X(DeleteScheduledTask, "Delete Scheduled Task", DeferredChanges)          \
  X(GenerateNativeImages, "Generate Native Images", DeferredChanges)        \
  X(RunDotNetInstallerClass, "Run .NET Installer Class", DeferredChanges)   \
  X(RegisterAssembly, "Register Assembly", DeferredChanges)                 \
  X(ApplyChanges, "Apply Changes", InstallerSession)                        \
  X(ApplyPatch, "Apply Patch", InstallerSession)                            \
  X(Extract7ZipArchive, "Extract 7Zip Archive", ArchiveExtraction)          \
  X(WebMediaBlock, "Web Media Block", WebMedia)                             \
  X(DoesFileFolderExist, "Does File/Folder Exist", Files)                   \
  X(CheckDiskSpace, "Check Disk Space", Files)                              \
  X(DeleteFilesRecursive, "Delete Files Recursive", Files)                  \
  X(FindAllFiles, "Find All Files", Files)                                  \
  X(GetIniFileSettings, "Get INI File Settings", Files)                     \
  X(ReadFromTextFile, "Read from Text File", Files)                         \
  X(WriteToTextFile, "Write to Text File", Files)                           \
  X(GetFileVersion, "Get File Version", Files)                              \
  X(CheckFileVersion, "Check File Version", Files)                          \
  X(ReadRegistry, "Read Registry", Registry)                                \
  X(CheckRegistry, "Check Registry", Registry)                              \
  X(GetOsOrSpLevel, "Get OS or SP Level", Registry)                         \
  X(GetSystemSettings, "Get System Settings", Registry)                     \
  X(GetFolderLocation, "Get Folder Location", Registry)                     \
  X(RunProgram, "Run Program", ProgramExecution)                            \
  X(RunProgramAs, "Run Program As", ProgramExecution)                       \
  X(RunLightModeSetup, "Run Light Mode Setup", ProgramExecution)            \
  X(RegisterLibrary, "Register Library", ProgramExecution)                  \
  X(RemoveAssemblies, "Remove Assemblies", PeripheralServices)              \
  X(CreateIisSite, "Create IIS Site", PeripheralServices)                   \
  X(DeleteIisSite, "Delete IIS Site", PeripheralServices)                   \
  X(ControlIisSite, "Control IIS Site", PeripheralServices)                 \
  X(CreateVirtualFolder, "Create Virtual Folder", PeripheralServices)       \
  X(DeleteVirtualFolder, "Delete Virtual Folder", PeripheralServices)       \
  X(GetIisSiteList, "Get IIS Site List", PeripheralServices)                \
  X(GetIisSiteIndex, "Get IIS Site Index", PeripheralServices)              \
  X(GetIisProperty, "Get IIS Property", PeripheralServices)                 \
  X(SetIisProperty, "Set IIS Property", PeripheralServices)                 \
  X(IisAnonymousUser, "IIS Anonymous User", PeripheralServices)

enum class StatementKind {
#define KEM_STATEMENT_KIND_ENUM(id, name, group) id,
  KEM_STATEMENT_KINDS(KEM_STATEMENT_KIND_ENUM)
#undef KEM_STATEMENT_KIND_ENUM
  // A name that matches no kind: a plug-in statement, or a statement that does nothing.
  Unknown,
};

inline constexpr std::size_t kStatementKindCount = static_cast<std::size_t>(StatementKind::Unknown);

struct StatementKindInfo {
  StatementKind kind;
  std::string_view name;
  StatementGroup group;
};

// Every kind, in the order above.
std::span<const StatementKindInfo> StatementKinds() noexcept;
// The kind whose name equals name exactly; nullopt for any other name.
std::optional<StatementKind> FindStatementKind(std::string_view name);
// As FindStatementKind, with StatementKind::Unknown for any other name.
StatementKind ResolveStatementKind(std::string_view name);
// The kind's name; empty for Unknown.
std::string_view StatementKindName(StatementKind kind) noexcept;
StatementGroup StatementKindGroup(StatementKind kind) noexcept;

}  // namespace kem
