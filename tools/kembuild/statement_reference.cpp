#include "kembuild/statement_reference.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace kem::builder {
namespace {

using K = ParameterKind;

// A parameter's description, at its position in the engine's list.
struct ParameterText {
  int position;
  std::string_view meaning;
  std::span<const EnumerationValue> values = {};
  std::optional<long long> minimum = std::nullopt, maximum = std::nullopt;
};

constexpr EnumerationValue kConditionOperators[] = {
    {"0", "=", "equals (numbers compare as numbers, texts case-sensitively)"},
    {"0", "<>", "differs: \"=\" with the negation flag set", true},
    {"1", "contains", "the left text contains the right text, case-sensitively (numbers: equal)"},
    {"2", ">", "greater than (numbers as numbers, texts by their bytes)"},
    {"3", "contains-ignore-case", "contains, without regard to letter case"},
    {"4", "equals-ignore-case", "equals, without regard to letter case"},
    {"5", "defined", "a variable of exactly that name exists (the right value is not used)"},
    {"6", "version>", "the left version (up to four numbers a.b.c.d) is greater than the right one"},
};
constexpr EnumerationValue kMathOperations[] = {
    {"0", "+", "a + b"},
    {"1", "-", "a - b"},
    {"2", "*", "a x b"},
    {"3", "div", "a divided by b, truncated toward zero"},
    {"4", "mod", "remainder of a divided by b, with the sign of a"},
    {"5", "and", "a and b, bit by bit"},
    {"6", "or", "a or b, bit by bit"},
    {"7", "xor", "a exclusive-or b, bit by bit"},
    {"8", "shl", "a shifted left by b bits"},
    {"9", "shr", "a shifted right by b bits, filling with zeros"},
    {"10", "not", "a with every bit inverted"},
    {"11", "ord", "the character code of the first character of operand a (as text)"},
    {"12", "chr", "the one-character text whose code is the low 8 bits of a"},
    {"13", "seed", "a + b; sets the random generator's multiplier to a and its increment to b"},
    {"14", "set-random-state", "the low 32 bits of a; sets the random generator's state to it"},
    {"15", "random", "the next pseudo-random value, modulo a"},
};
constexpr EnumerationValue kParseModes[] = {
    {"0", "at-first", "split at the first occurrence of the separator"},
    {"1", "at-last", "split at the last occurrence of the separator"},
    {"2", "after-count", "the first part holds that many characters"},
    {"3", "before-last-count", "the second part holds that many characters from the end"},
};
constexpr EnumerationValue kPathParts[] = {
    {"0", "name", "the file name"},
    {"1", "base-name", "the file name without its extension"},
    {"2", "extension", "the extension without its dot"},
    {"3", "folder", "the folder, with a trailing backslash"},
    {"4", "parent", "the parent of the folder, with a trailing backslash"},
    {"5", "drive", "the drive (or server and share), with a trailing backslash"},
    {"6", "single-backslashes", "every doubled backslash made single"},
};
constexpr EnumerationValue kRegistryRoots[] = {
    {"0", "HKCR", "HKEY_CLASSES_ROOT"}, {"1", "HKCU", "HKEY_CURRENT_USER"},   {"2", "HKLM", "HKEY_LOCAL_MACHINE"},
    {"3", "HKU", "HKEY_USERS"},         {"4", "HKCC", "HKEY_CURRENT_CONFIG"},
};
constexpr EnumerationValue kMessageIcons[] = {
    {"0", "information", "information"},
    {"1", "question", "question"},
    {"2", "warning", "warning"},
    {"3", "error", "error"},
};
constexpr EnumerationValue kMessageButtons[] = {
    {"0", "abort-retry-ignore", "Abort, Retry, Ignore"},
    {"1", "ok", "OK"},
    {"2", "ok-cancel", "OK, Cancel"},
    {"3", "retry-cancel", "Retry, Cancel"},
    {"4", "yes-no", "Yes, No"},
    {"5", "yes-no-cancel", "Yes, No, Cancel"},
};
constexpr EnumerationValue kBalloonIcons[] = {
    {"0", "information", "information"}, {"1", "warning", "warning"}, {"2", "error", "error"}};
constexpr EnumerationValue kShowModes[] = {
    {"0", "show", "shown normally"},
    {"1", "hide", "hidden"},
    {"2", "maximize", "maximized"},
    {"3", "minimize", "minimized"},
    {"4", "minimize-inactive", "minimized, not activated"},
};
constexpr ParameterText kIf[] = {
    {param::If::Variable, "the variable compared (NAME or $NAME$); translated as text 1"},
    {param::If::Operator, "how the two sides compare", kConditionOperators},
    {param::If::Value, "the value on the right; translated as text 2"},
    {param::If::Negate, "TRUE reverses the outcome"},
};
constexpr ParameterText kLabel[] = {
    {param::Label::Label, "the label's name (letter case does not matter)"},
};
constexpr ParameterText kGoTo[] = {
    {param::GoToLabel::Label, "the label to continue at"},
};
constexpr ParameterText kComment[] = {
    {param::Comment::Remark, "free text; the engine ignores it"},
};
constexpr ParameterText kSetVariable[] = {
    {param::SetVariable::Variable, "the variable set; NAME$VRAX$VRAX$TRUE keeps it for maintenance runs"},
    {param::SetVariable::Value, "the value"},
};
constexpr ParameterText kLocalizationVariable[] = {
    {param::LocalizationVariable::Variable, "the variable set"},
    {param::LocalizationVariable::Value, "the value, translated by the variable's name"},
};
constexpr ParameterText kGetEnvironment[] = {
    {param::GetEnvironment::Name, "the environment variable; empty: the whole environment, one NAME=VALUE per line"},
    {param::GetEnvironment::Result, "receives the value"},
};
constexpr ParameterText kGetTemporaryFile[] = {
    {param::GetTemporaryFile::Result, "receives the path of a new empty file in TEMPDIR"},
};
constexpr ParameterText kConvertPath[] = {
    {param::ConvertPath::Variable, "the variable converted in place (it must exist)"},
    {param::ConvertPath::Short, "TRUE: the short (8.3) form; FALSE: the long form"},
};
constexpr ParameterText kConvertCase[] = {
    {param::ConvertCase::Variable, "the variable converted in place (it must exist)"},
    {param::ConvertCase::Upper, "TRUE: upper case; FALSE: lower case"},
};
constexpr ParameterText kReplaceString[] = {
    {param::ReplaceString::Variable, "the variable changed in place (it must exist)"},
    {param::ReplaceString::Find, "the text to find"},
    {param::ReplaceString::Replacement, "the text put in its place"},
    {param::ReplaceString::IgnoreCase, "TRUE: find without regard to letter case"},
    {param::ReplaceString::All, "TRUE: replace every occurrence; FALSE: the first only"},
};
constexpr ParameterText kExtractPath[] = {
    {param::ExtractPath::Variable, "the variable changed in place (it must exist)"},
    {param::ExtractPath::Part, "the part of the path kept", kPathParts},
};
constexpr ParameterText kParseString[] = {
    {param::ParseString::Source, "the text split"},
    {param::ParseString::Separator,
     "the separator (modes at-first, at-last) or the count (after-count, before-last-count)"},
    {param::ParseString::First, "receives the first part (may be empty)"},
    {param::ParseString::Second, "receives the second part (may be empty)"},
    {param::ParseString::Mode, "where the text is split", kParseModes},
    {param::ParseString::Trim, "TRUE: blanks are removed from both ends of both parts"},
    {param::ParseString::IgnoreCase, "TRUE: the separator is found without regard to letter case"},
};
constexpr ParameterText kMathematics[] = {
    {param::Mathematics::A, "operand a, a 64-bit integer (ord: a text)"},
    {param::Mathematics::B, "operand b, a 64-bit integer (not read by not, ord, chr, set-random-state, random)"},
    {param::Mathematics::Operation, "the operation", kMathOperations},
    {param::Mathematics::Result, "receives the result (may be empty)"},
};
constexpr ParameterText kEvaluateExpression[] = {
    {param::EvaluateExpression::Expression,
     "comparisons of quoted texts joined by and/or, e.g. $A$ = \"1\" and ($B$ > \"2\")"},
    {param::EvaluateExpression::Result, "receives TRUE, FALSE or ERROR"},
};
constexpr ParameterText kExitCode[] = {
    {param::TerminateWithExitCode::Code, "the process exit code"},
};
constexpr ParameterText kDisplayDialog[] = {
    {param::DisplayDialog::Dialog, "the dialog's name: dialogs/NAME.dfm or dialogs/NAME.dfm.txt"},
    {param::DisplayDialog::Result,
     "receives NEXT, BACK, CANCEL, NOTMODAL or the name of the button that ended it (usually WIZARD)"},
    {param::DisplayDialog::Modal, "TRUE: the script waits for the dialog (always so in a wizard loop)"},
    {param::DisplayDialog::Condition, "a variable; the dialog is skipped when its truth equals the condition value"},
    {param::DisplayDialog::Unused, "not read by the engine (TRUE by custom)"},
    {param::DisplayDialog::ConditionValue, "see condition"},
};
constexpr ParameterText kMessageBox[] = {
    {param::MessageBox::Caption, "the box's caption"},
    {param::MessageBox::Text, "the message"},
    {param::MessageBox::Icon, "the icon", kMessageIcons},
    {param::MessageBox::Buttons, "the buttons", kMessageButtons},
    {param::MessageBox::Result, "receives the button chosen: OK, CANCEL, ABORT, RETRY, IGNORE, YES or NO"},
};
constexpr ParameterText kMessageBalloon[] = {
    {param::MessageBalloon::Title, "the balloon's title"},
    {param::MessageBalloon::Text, "the message"},
    {param::MessageBalloon::Icon, "the icon", kBalloonIcons},
    {param::MessageBalloon::Seconds, "how long it shows in seconds, held to 10 to 30; a non-number counts as 10"},
};
constexpr ParameterText kSystemTray[] = {
    {param::SystemTray::Minimize, "exactly TRUE: minimise to the tray"},
    {param::SystemTray::ShowIcon, "exactly TRUE: show the tray icon"},
    {param::SystemTray::Restore, "exactly TRUE: restore the window"},
    {param::SystemTray::RemoveIcon, "exactly TRUE: remove the tray icon and restore the window"},
};
constexpr ParameterText kDefineComponent[] = {
    {param::DefineComponent::Component, "the component's name"},
    {param::DefineComponent::Selected, "TRUE: selected at first"},
    {param::DefineComponent::Description, "its description"},
};
constexpr ParameterText kComponentName[] = {
    {param::DeleteComponent::Component, "the component's name"},
};
constexpr ParameterText kGetComponentState[] = {
    {param::GetComponentState::Component, "the component's name"},
    {param::GetComponentState::Result, "receives TRUE when it is selected"},
};
constexpr ParameterText kGetComponentSpace[] = {
    {param::GetComponentSpace::Component, "the component's name; empty: the space all selected components need"},
    {param::GetComponentSpace::Result, "receives the size in bytes"},
};
constexpr ParameterText kSetComponentState[] = {
    {param::SetComponentState::Component, "the component's name"},
    {param::SetComponentState::Selected, "TRUE: selected"},
};
constexpr ParameterText kSetComponentSpace[] = {
    {param::SetComponentSpace::Component, "the component's name"},
    {param::SetComponentSpace::Size, "the size in bytes"},
};
constexpr ParameterText kSetComponentChoice[] = {
    {param::SetComponentChoice::Component, "the component's name"},
    {param::SetComponentChoice::Changeable, "TRUE: the user may change it"},
};
constexpr ParameterText kSetComponentVisibility[] = {
    {param::SetComponentVisibility::Component, "the component's name"},
    {param::SetComponentVisibility::Visible, "TRUE: shown to the user"},
};
constexpr ParameterText kIsMsiSetupInstalled[] = {
    {param::IsMsiSetupInstalled::ProductCode, "the product code, a GUID in braces"},
    {param::IsMsiSetupInstalled::Result, "receives TRUE when that product is installed"},
};
constexpr ParameterText kCheckProcess[] = {
    {param::CheckProcess::Program, "the executable's file name"},
    {param::CheckProcess::Result, "receives TRUE when such a process runs"},
};
constexpr ParameterText kCheckService[] = {
    {param::CheckService::Service, "the service's name"},
    {param::CheckService::Machine, "the machine; empty: this one"},
    {param::CheckService::Result, "receives the state: STOPPED, STARTING, STOPPING, RUNNING, ..."},
};
constexpr ParameterText kDeleteRegistry[] = {
    {param::DeleteRegistry::Root, "the root key", kRegistryRoots},
    {param::DeleteRegistry::Key, "the key path"},
    {param::DeleteRegistry::Value, "the value name"},
    {param::DeleteRegistry::DeleteKey, "TRUE: delete the whole key"},
};
constexpr ParameterText kTerminateProgram[] = {
    {param::TerminateProgram::Title, "part of the window's title (empty: any)"},
    {param::TerminateProgram::Class, "part of the window's class name (empty: any)"},
};
constexpr ParameterText kSet64BitMode[] = {
    {param::Set64BitMode::Win32, "exactly TRUE: 32-bit mode"},
    {param::Set64BitMode::Ia64, "exactly TRUE: Itanium mode"},
    {param::Set64BitMode::X64, "exactly TRUE: x64 mode"},
};
constexpr ParameterText kSelectionsFile[] = {
    {param::SaveFeatureSelections::File, "the selection file"},
};
constexpr ParameterText kApplyChanges[] = {
    {param::ApplyChanges::Dialog, "the progress dialog's name"},
    {param::ApplyChanges::Result, "receives COMPLETE, REBOOT, CANCEL or ERROR"},
    {param::ApplyChanges::Install, "TRUE: install"},
    {param::ApplyChanges::Remove, "TRUE (with install FALSE): remove; both FALSE: advertise"},
};
constexpr ParameterText kApplyPatch[] = {
    {param::ApplyPatch::Result, "receives the outcome"},
};
constexpr ParameterText kExtract7Zip[] = {
    {param::Extract7ZipArchive::Archive, "the archive's path"},
    {param::Extract7ZipArchive::Destination, "the folder it is unpacked into"},
    {param::Extract7ZipArchive::Result, "receives SUCCESS or the error"},
    {param::Extract7ZipArchive::Password, "the archive's password"},
    {param::Extract7ZipArchive::Overwrite, "TRUE: existing files are replaced"},
    {param::Extract7ZipArchive::Arrangement, "TRUE: the archive's folders are kept"},
};
constexpr ParameterText kWebMediaBlock[] = {
    {param::WebMediaBlock::Block, "the block's name, a file name (empty: the end of the web blocks)"},
    {param::WebMediaBlock::Urls, "the download addresses, one per line"},
    {param::WebMediaBlock::Unused, "not read by the engine"},
};
constexpr ParameterText kDoesFileExist[] = {
    {param::DoesFileFolderExist::Result, "receives TRUE or FALSE"},
    {param::DoesFileFolderExist::Path, "the file or folder"},
    {param::DoesFileFolderExist::File, "TRUE: look for a file; FALSE: for a folder"},
};
constexpr ParameterText kCheckDiskSpace[] = {
    {param::CheckDiskSpace::Result, "receives the size in bytes"},
    {param::CheckDiskSpace::Path, "a path on the volume"},
    {param::CheckDiskSpace::Free, "TRUE: the free space; FALSE: the total size"},
};
constexpr ParameterText kDeleteFilesRecursive[] = {
    {param::DeleteFilesRecursive::Mask, "a folder and a file mask, e.g. $TARGETDIR$\\*.*"},
};
constexpr ParameterText kFindAllFiles[] = {
    {param::FindAllFiles::Mask, "a folder and a file mask"},
    {param::FindAllFiles::Subfolders, "TRUE: search the subfolders too"},
    {param::FindAllFiles::Folders, "TRUE: list folders too"},
    {param::FindAllFiles::Result, "receives the paths found, joined by |"},
};
constexpr ParameterText kGetIni[] = {
    {param::GetIniFileSettings::Result, "receives the value, or empty"},
    {param::GetIniFileSettings::File, "the INI file"},
    {param::GetIniFileSettings::Section, "the section"},
    {param::GetIniFileSettings::Key, "the key"},
};
constexpr ParameterText kReadText[] = {
    {param::ReadFromTextFile::File, "the text file; #READALL\\ in front reads the rest of the file at once"},
    {param::ReadFromTextFile::Line, "receives the next line"},
    {param::ReadFromTextFile::End, "receives TRUE at the end of the file"},
};
constexpr ParameterText kWriteText[] = {
    {param::WriteToTextFile::File, "the text file"},
    {param::WriteToTextFile::Line, "the line written"},
    {param::WriteToTextFile::AtTop, "TRUE: insert the line at the top"},
};
constexpr ParameterText kGetFileVersion[] = {
    {param::GetFileVersion::File, "the file"},
    {param::GetFileVersion::Result, "receives the version"},
};
constexpr ParameterText kCheckFileVersion[] = {
    {param::CheckFileVersion::Result, "receives TRUE or FALSE"},
    {param::CheckFileVersion::File, "the file"},
    {param::CheckFileVersion::CompareFile, "TRUE: compare with another file's version"},
    {param::CheckFileVersion::OtherFile, "the other file"},
    {param::CheckFileVersion::Version, "the version compared with"},
};
constexpr ParameterText kReadRegistry[] = {
    {param::ReadRegistry::Result, "receives the value"},
    {param::ReadRegistry::Root, "the root key", kRegistryRoots},
    {param::ReadRegistry::Key, "the key path"},
    {param::ReadRegistry::Value, "the value name"},
};
constexpr ParameterText kGetOsLevel[] = {
    {param::GetOsOrSpLevel::Result, "receives the name or the level"},
    {param::GetOsOrSpLevel::Name, "TRUE: the system's name; FALSE: the service pack level"},
};
constexpr ParameterText kGetSystemSettings[] = {
    {param::GetSystemSettings::Result, "receives the setting"},
    {param::GetSystemSettings::Setting, "the setting's code, 0 to 81", {}, 0, 81},
};
constexpr ParameterText kGetFolderLocation[] = {
    {param::GetFolderLocation::Result, "receives the folder, with a trailing backslash"},
    {param::GetFolderLocation::Folder, "the folder's code, 0 to 28", {}, 0, 28},
    {param::GetFolderLocation::AllUsers, "TRUE: the all-users folder"},
};
constexpr ParameterText kRunProgram[] = {
    {param::RunProgram::Program, "the program"},
    {param::RunProgram::Hidden, "TRUE: no window"},
    {param::RunProgram::Arguments, "its command-line arguments"},
    {param::RunProgram::Wait, "TRUE: wait until it ends"},
    {param::RunProgram::Result, "receives its exit code"},
};
constexpr ParameterText kRunProgramAs[] = {
    {param::RunProgramAs::Program, "the program"},
    {param::RunProgramAs::Folder, "its working folder"},
    {param::RunProgramAs::Arguments, "its command-line arguments"},
    {param::RunProgramAs::Show, "how its window shows", kShowModes},
    {param::RunProgramAs::User, "the user name"},
    {param::RunProgramAs::Password, "the password"},
    {param::RunProgramAs::Domain, "the domain"},
    {param::RunProgramAs::Result, "receives its exit code"},
    {param::RunProgramAs::Wait, "TRUE: wait until it ends"},
    {param::RunProgramAs::Environment, "NAME=VALUE lines; empty: the engine's environment"},
};
constexpr ParameterText kRunLightMode[] = {
    {param::RunLightModeSetup::Setup, "the setup data file"},
    {param::RunLightModeSetup::Result, "receives the outcome"},
    {param::RunLightModeSetup::Arguments, "command-line arguments"},
    {param::RunLightModeSetup::Wait, "TRUE: wait until it ends"},
};
constexpr ParameterText kRegisterLibrary[] = {
    {param::RegisterLibrary::File, "the library"},
    {param::RegisterLibrary::Register, "TRUE: register; FALSE: unregister"},
    {param::RegisterLibrary::Result, "receives TRUE on success"},
};
constexpr EnumerationValue kRegistryTypes[] = {
    {"0", "string", "a text (REG_SZ)"},
    {"1", "expandable", "a text with %NAME% references (REG_EXPAND_SZ)"},
    {"2", "dword", "a 32-bit number written in decimal (REG_DWORD)"},
    {"3", "binary", "bytes written as hexadecimal digits (REG_BINARY)"},
};
constexpr EnumerationValue kShowCommands[] = {
    {"1", "normal", "a normal window"}, {"3", "maximized", "maximised"}, {"7", "minimized", "minimised"}};
constexpr EnumerationValue kIniActions[] = {
    {"0", "write", "writes the value, replacing an existing one"},
    {"1", "create", "writes the value only when the key is absent"},
    {"3", "add", "adds the value to a comma-separated list in the key"},
};
constexpr EnumerationValue kEnvironmentModes[] = {
    {"0", "set", "replaces the variable's value"},
    {"1", "append", "appends the value after a semicolon"},
    {"2", "prepend", "puts the value in front, followed by a semicolon"},
};
constexpr EnumerationValue kStartTypes[] = {
    {"2", "auto", "starts with the system"}, {"3", "demand", "starts when asked"}, {"4", "disabled", "never starts"}};
constexpr EnumerationValue kErrorControls[] = {
    {"0", "ignore", "a failed start is logged only"},
    {"1", "normal", "a failed start is reported"},
    {"3", "critical", "a failed start restarts the system with the last good configuration"},
};
constexpr ParameterText kInstallFiles[] = {
    {param::InstallFiles::Files,
     "source files relative to the project folder, separated by |: a file, a folder (its whole contents), "
     "or a * and ? pattern in the last part"},
    {param::InstallFiles::Subfolders,
     "TRUE: a pattern also takes the matching files of subfolders, into the same subfolders"},
    {param::InstallFiles::Folder, "the destination folder, a full path"},
    {param::InstallFiles::Permanent, "TRUE: the files stay when the product is removed"},
};
constexpr ParameterText kInstallAssembly[] = {
    {param::InstallAssembly::File, "the assembly file, relative to the project folder"},
    {param::InstallAssembly::Unused, "not used"},
    {param::InstallAssembly::Folder, "the destination folder, a full path (the assembly is installed as a file)"},
};
constexpr ParameterText kShortcut[] = {
    {param::CreateShortcut::Target, "the file the shortcut starts"},
    {param::CreateShortcut::Name, "the shortcut's name, without .lnk"},
    {param::CreateShortcut::Folder, "the folder that gets the shortcut, a full path"},
    {param::CreateShortcut::Description, "its description (tooltip)"},
    {param::CreateShortcut::Arguments, "command-line arguments"},
    {param::CreateShortcut::WorkingFolder, "the working folder"},
    {param::CreateShortcut::Show, "how the started program's window shows (default normal)", kShowCommands},
    {param::CreateShortcut::AppId, "after a |: the application user model ID"},
    {param::CreateShortcut::Pin, "after a |: the pin flags"},
};
constexpr ParameterText kWriteRegistryParams[] = {
    {param::WriteRegistry::Root, "the root key (HKCR, HKCU, HKLM or HKU)", kRegistryRoots},
    {param::WriteRegistry::Key, "the key path, as written (no variables)"},
    {param::WriteRegistry::Value, "the value name; empty: the default value (with empty data too: the key alone)"},
    {param::WriteRegistry::Data, "the value's data"},
    {param::WriteRegistry::Type, "the value's type (default string), as written", kRegistryTypes},
    {param::WriteRegistry::Permanent, "TRUE: the value stays when the product is removed"},
};
constexpr ParameterText kEditIni[] = {
    {param::EditIniFile::Folder, "the folder of the INI file, a full path"},
    {param::EditIniFile::File, "the INI file's name"},
    {param::EditIniFile::Action, "how the value is written (default write)", kIniActions},
    {param::EditIniFile::Section, "the section"},
    {param::EditIniFile::Key, "the key"},
    {param::EditIniFile::Value, "the value"},
};
constexpr ParameterText kSetEnvironmentParams[] = {
    {param::SetEnvironment::Name, "the environment variable"},
    {param::SetEnvironment::Value, "the value"},
    {param::SetEnvironment::Mode, "how the value is written (default set)", kEnvironmentModes},
    {param::SetEnvironment::System, "TRUE: the system's variable; FALSE: the user's"},
    {param::SetEnvironment::Permanent, "TRUE: the value stays when the product is removed"},
};
constexpr ParameterText kCreateFolderParams[] = {
    {param::CreateFolder::Folder, "the folder, a full path; removed with the product when empty"},
};
constexpr ParameterText kDeleteFilesParams[] = {
    {param::DeleteFiles::Folder, "the folder, a full path"},
    {param::DeleteFiles::Files, "the file names, * and ? allowed; empty: the folder itself when it is empty"},
    {param::DeleteFiles::AtInstall, "TRUE: delete them when the product is installed"},
    {param::DeleteFiles::AtRemoval, "TRUE: delete them when the product is removed (one of the two must be TRUE)"},
};
constexpr ParameterText kCopyMoveParams[] = {
    {param::CopyMoveLocalFiles::SourceFolder, "the folder the files are in, a full path"},
    {param::CopyMoveLocalFiles::Files, "the file names, * and ? allowed"},
    {param::CopyMoveLocalFiles::Folder, "the destination folder, a full path"},
    {param::CopyMoveLocalFiles::NewName, "a new name for a single file"},
    {param::CopyMoveLocalFiles::Move, "TRUE: move; FALSE: copy"},
};
constexpr ParameterText kFileType[] = {
    {param::CreateFileType::Type, "the file type's name (program identifier)"},
    {param::CreateFileType::Extension, "the extension with its dot, such as .txt"},
    {param::CreateFileType::Description, "the type's description"},
    {param::CreateFileType::Command, "the command line that opens a file, such as \"C:\\App\\app.exe\" \"%1\""},
    {param::CreateFileType::Icon, "the icon: file,index"},
};
constexpr ParameterText kAdvertisedFileType[] = {
    {param::AdvertisedFileType::Type, "the file type's name, as written"},
    {param::AdvertisedFileType::Extension, "the extension with its dot, as written"},
    {param::AdvertisedFileType::Description, "the type's description, as written"},
    {param::AdvertisedFileType::Command, "the command line that opens a file, as written"},
    {param::AdvertisedFileType::Icon, "the icon: file,index, as written"},
};
constexpr ParameterText kInstallServiceParams[] = {
    {param::InstallService::File, "the service program, relative to the project folder"},
    {param::InstallService::Name, "the service's name"},
    {param::InstallService::Start, "when it starts (default auto)", kStartTypes},
    {param::InstallService::DisplayName, "the name the service list shows"},
    {param::InstallService::Description, "its description"},
    {param::InstallService::Group, "its load-order group"},
    {param::InstallService::Type,
     "the service type (default 16: own process; 32: shared; +256: interactive)",
     {},
     0,
     511},
    {param::InstallService::ErrorControl, "what a failed start does (default normal)", kErrorControls},
    {param::InstallService::Folder, "the folder the program goes to, a full path"},
    {param::InstallService::Dependencies, "services it needs, each followed by ~"},
    {param::InstallService::StartNow, "TRUE: start it at installation"},
    {param::InstallService::Unused, "not used"},
    {param::InstallService::Account, "the account it runs as; empty: LocalSystem"},
    {param::InstallService::Password, "the account's password"},
    {param::InstallService::Arguments, "the program's arguments"},
};
constexpr ParameterText kControlServiceParams[] = {
    {param::ControlService::Name, "the service's name"},
    {param::ControlService::Arguments, "arguments for a start"},
    {param::ControlService::Events,
     "the sum of: 1 start, 2 stop, 8 delete at installation; 16 start, 32 stop, 128 delete at removal "
     "(default 1)",
     {},
     0,
     255},
    {param::ControlService::Wait, "TRUE: wait until the service has done it"},
};
constexpr ParameterText kOdbcDriver[] = {
    {param::InstallOdbcDriver::Driver, "the driver's name"},
    {param::InstallOdbcDriver::File, "the driver file"},
    {param::InstallOdbcDriver::Setup, "the driver's setup file"},
    {param::InstallOdbcDriver::Folder, "the destination folder"},
};
constexpr ParameterText kCreateShare[] = {
    {param::CreateShare::Name, "the share's name"},
    {param::CreateShare::Folder, "the folder shared"},
    {param::CreateShare::Remark, "the share's remark"},
    {param::CreateShare::MaxUsers, "the most users at a time; empty or below 1: no limit"},
};
constexpr ParameterText kDeleteShare[] = {
    {param::DeleteShare::Name, "the share's name"},
};
constexpr ParameterText kSetAccessControl[] = {
    {param::SetAccessControl::Object,
     "a file or folder, a registry key (HKLM\\..., HKEY_CURRENT_USER\\..., ...) or a share (\\\\server\\share)"},
    {param::SetAccessControl::Accounts,
     "the accounts, added up: 1 Everyone, 2 Users, 4 Administrators, 8 Authenticated Users, 16 Power "
     "Users, 32 SYSTEM; 0: nothing is granted"},
    {param::SetAccessControl::Rights,
     "4 (or any value with that bit) full control, else 2 modify, else read; 0: nothing is granted"},
};
constexpr ParameterText kScheduleTask[] = {
    {param::ScheduleTask::Name, "the task's name; translated as text 1"},
    {param::ScheduleTask::Computer, "the computer (\\\\NAME or NAME); empty: this one"},
    {param::ScheduleTask::Program, "the program the task runs"},
    {param::ScheduleTask::Arguments, "its command-line arguments"},
    {param::ScheduleTask::Folder, "its working folder"},
    {param::ScheduleTask::Flags, "the Task Scheduler's task flags, a number; empty: 0"},
    {param::ScheduleTask::Start, "the first start, YYYY-MM-DD or YYYY-MM-DD HH:MM; empty: none"},
};
constexpr ParameterText kDeleteScheduledTask[] = {
    {param::DeleteScheduledTask::Name, "the task's name; translated as text 1"},
    {param::DeleteScheduledTask::Computer, "the computer (\\\\NAME or NAME); empty: this one"},
};
constexpr ParameterText kNativeImages[] = {
    {param::GenerateNativeImages::Assembly,
     "ASSEMBLY|INSTALL: the assembly's path, then FALSE to remove its native images (else they are "
     "made)"},
};
constexpr ParameterText kInstallerClass[] = {
    {param::RunDotNetInstallerClass::Assembly, "the assembly's path"},
    {param::RunDotNetInstallerClass::Install, "TRUE: install; else uninstall"},
};
constexpr ParameterText kRegisterAssembly[] = {
    {param::RegisterAssembly::Assembly,
     "ASSEMBLY|REGISTER|CODEBASE: the assembly's path, FALSE to unregister (else it is registered), "
     "TRUE to record its code base"},
};

struct Entry {
  StatementKind kind;
  std::string_view summary;
  std::span<const ParameterText> parameters;
  bool described = true;
  bool carriedOut = true;
};

template <std::size_t N>
constexpr std::span<const ParameterText> P(const ParameterText (&a)[N]) {
  return std::span<const ParameterText>(a, N);
}
constexpr std::span<const ParameterText> kNoParameters = {};

using S = StatementKind;
constexpr Entry kEntries[] = {
    {S::If, "starts a block that runs when the condition holds", P(kIf)},
    {S::Else, "the block's part that runs when no condition before it held", kNoParameters},
    {S::ElseIf, "the block's part that runs when its condition holds and none before it did", P(kIf)},
    {S::End, "ends an If block or a wizard loop", kNoParameters},
    {S::WizardLoop, "starts a wizard: its Display Dialog statements move on with Next and back with Back",
     kNoParameters},
    {S::Label, "a place GoTo Label continues at (not inside a block)", P(kLabel)},
    {S::GoToLabel, "continues at the label", P(kGoTo)},
    {S::Comment, "a remark that stays in the script", P(kComment)},
    {S::Ignore, "does nothing", kNoParameters},
    {S::SetVariable, "sets a variable", P(kSetVariable)},
    {S::LocalizationVariable, "sets a variable to a text translated by the variable's name", P(kLocalizationVariable)},
    {S::GetEnvironment, "reads an environment variable", P(kGetEnvironment)},
    {S::GetTemporaryFile, "makes a new temporary file", P(kGetTemporaryFile)},
    {S::ConvertPath, "turns a path into its short or long form", P(kConvertPath)},
    {S::ConvertCase, "turns a text into upper or lower case", P(kConvertCase)},
    {S::ReplaceString, "replaces text in a variable", P(kReplaceString)},
    {S::ExtractPath, "keeps a part of a path", P(kExtractPath)},
    {S::ParseString, "splits a text in two", P(kParseString)},
    {S::Mathematics, "integer arithmetic", P(kMathematics)},
    {S::EvaluateExpression, "evaluates comparisons joined by and/or", P(kEvaluateExpression)},
    {S::TerminateInstall, "ends the setup", kNoParameters},
    {S::TerminateWithExitCode, "ends the setup with an exit code", P(kExitCode)},
    {S::RebootComputer, "restarts the computer at the end of the setup", kNoParameters},
    {S::RebootAndResume, "restarts the computer and runs the setup again", kNoParameters},
    {S::DisplayDialog, "shows a dialog", P(kDisplayDialog)},
    {S::HideDialog, "takes the current dialog off the screen", kNoParameters},
    {S::MessageBox, "shows a message box", P(kMessageBox)},
    {S::MessageBalloon, "shows a balloon at the tray icon", P(kMessageBalloon)},
    {S::SystemTray, "minimises to and restores from the tray", P(kSystemTray)},
    {S::DefineComponent, "defines a selectable component", P(kDefineComponent)},
    {S::DeleteComponent, "removes a component from the choice", P(kComponentName)},
    {S::GetComponentState, "reads whether a component is selected", P(kGetComponentState)},
    {S::GetComponentSpace, "reads a component's size", P(kGetComponentSpace)},
    {S::SetComponentState, "selects or deselects a component", P(kSetComponentState)},
    {S::SetComponentSpace, "sets a component's size", P(kSetComponentSpace)},
    {S::SetComponentChoice, "lets the user change a component or not", P(kSetComponentChoice)},
    {S::SetComponentVisibility, "shows or hides a component", P(kSetComponentVisibility)},
    {S::IsMsiSetupInstalled, "whether a product is installed", P(kIsMsiSetupInstalled)},
    {S::CheckProcess, "whether a program runs", P(kCheckProcess)},
    {S::CheckService, "a service's state", P(kCheckService)},
    {S::DeleteRegistry, "deletes a registry value or key at once", P(kDeleteRegistry)},
    {S::TerminateProgram, "closes a program's window", P(kTerminateProgram)},
    {S::Set64BitMode, "switches 64-bit registry and file-system access", P(kSet64BitMode)},
    {S::TransformInstance, "gives a new instance its own product code", kNoParameters},
    {S::SaveFeatureSelections, "saves the variables and selections to a file", P(kSelectionsFile)},
    {S::LoadFeatureSelections, "loads variables and selections from a file", P(kSelectionsFile)},
    {S::CreateOdbcDsn,
     "creates an ODBC data source when the changes are applied (not yet built into the "
     "installer database: the builder refuses it)",
     {},
     false},
    {S::InstallFiles, "installs files when the changes are applied", P(kInstallFiles)},
    {S::InstallAssembly, "installs an assembly file when the changes are applied", P(kInstallAssembly)},
    {S::CreateShortcut, "creates a shortcut when the changes are applied", P(kShortcut)},
    {S::AdvertisedShortcut, "creates a shortcut when the changes are applied (as Create Shortcut)", P(kShortcut)},
    {S::WriteRegistry, "writes a registry value when the changes are applied", P(kWriteRegistryParams)},
    {S::EditIniFile, "writes an INI value when the changes are applied", P(kEditIni)},
    {S::SetEnvironment, "sets an environment variable when the changes are applied", P(kSetEnvironmentParams)},
    {S::CreateFolder, "creates a folder when the changes are applied", P(kCreateFolderParams)},
    {S::DeleteFiles, "deletes files when the changes are applied or the product is removed", P(kDeleteFilesParams)},
    {S::CopyMoveLocalFiles, "copies or moves files of the computer when the changes are applied", P(kCopyMoveParams)},
    {S::CreateFileType, "registers a file type when the changes are applied", P(kFileType)},
    {S::AdvertisedFileType, "registers a file type with the texts as written when the changes are applied",
     P(kAdvertisedFileType)},
    {S::InstallService, "installs a service program when the changes are applied", P(kInstallServiceParams)},
    {S::ControlService, "starts, stops or deletes a service when the changes are applied", P(kControlServiceParams)},
    {S::InstallOdbcDriver,
     "installs an ODBC driver when the changes are applied (not yet built into the "
     "installer database: the builder refuses it)",
     P(kOdbcDriver)},
    {S::ApplyChanges, "carries out the recorded changes in one installer session", P(kApplyChanges)},
    {S::ApplyPatch, "applies the patch beside the setup", P(kApplyPatch)},
    {S::Extract7ZipArchive, "unpacks a 7z archive", P(kExtract7Zip)},
    {S::WebMediaBlock, "starts a block of files downloaded in a web build", P(kWebMediaBlock)},
    {S::DoesFileFolderExist, "whether a file or folder exists", P(kDoesFileExist)},
    {S::CheckDiskSpace, "a volume's free or total space", P(kCheckDiskSpace)},
    {S::DeleteFilesRecursive, "deletes files at once, also in subfolders", P(kDeleteFilesRecursive)},
    {S::FindAllFiles, "finds files", P(kFindAllFiles)},
    {S::GetIniFileSettings, "reads an INI value", P(kGetIni)},
    {S::ReadFromTextFile, "reads a text file a line at a time", P(kReadText)},
    {S::WriteToTextFile, "writes a line to a text file", P(kWriteText)},
    {S::GetFileVersion, "reads a file's version", P(kGetFileVersion)},
    {S::CheckFileVersion, "compares a file's version", P(kCheckFileVersion)},
    {S::ReadRegistry, "reads a registry value (empty when it cannot)", P(kReadRegistry)},
    {S::CheckRegistry, "reads a registry value, or NO$KEY, NO$VALUE, READ$ERROR, UNKNOWN$TYPE", P(kReadRegistry)},
    {S::GetOsOrSpLevel, "the system's name or service pack level", P(kGetOsLevel)},
    {S::GetSystemSettings, "a system setting", P(kGetSystemSettings)},
    {S::GetFolderLocation, "a special folder", P(kGetFolderLocation)},
    {S::RunProgram, "runs a program", P(kRunProgram)},
    {S::RunProgramAs, "runs a program as another user", P(kRunProgramAs)},
    {S::RunLightModeSetup, "runs a light-mode setup", P(kRunLightMode)},
    {S::RegisterLibrary, "registers or unregisters a library", P(kRegisterLibrary)},
    {S::CreateShare, "shares a folder on the network", P(kCreateShare)},
    {S::DeleteShare, "stops sharing a folder", P(kDeleteShare)},
    {S::SetAccessControl, "grants accounts access to a file, folder, registry key or share", P(kSetAccessControl)},
    {S::ScheduleTask, "adds a task to the Task Scheduler", P(kScheduleTask)},
    {S::DeleteScheduledTask, "removes a scheduled task", P(kDeleteScheduledTask)},
    {S::GenerateNativeImages, "makes or removes the native images of a .NET assembly", P(kNativeImages)},
    {S::RunDotNetInstallerClass, "runs the installer classes of a .NET assembly", P(kInstallerClass)},
    {S::RegisterAssembly, "registers or unregisters a .NET assembly for COM", P(kRegisterAssembly)},
    // Known by name, not carried out: the statement does nothing when it runs.
    {S::RemoveAssemblies, "removes .NET assemblies", {}, false, false},
    {S::CreateIisSite, "creates a web site", {}, false, false},
    {S::DeleteIisSite, "deletes a web site", {}, false, false},
    {S::ControlIisSite, "starts or stops a web site", {}, false, false},
    {S::CreateVirtualFolder, "creates a virtual folder of a web site", {}, false, false},
    {S::DeleteVirtualFolder, "deletes a virtual folder of a web site", {}, false, false},
    {S::GetIisSiteList, "lists the web sites", {}, false, false},
    {S::GetIisSiteIndex, "finds a web site's index", {}, false, false},
    {S::GetIisProperty, "reads a web-server property", {}, false, false},
    {S::SetIisProperty, "sets a web-server property", {}, false, false},
    {S::IisAnonymousUser, "sets a web site's anonymous user", {}, false, false},
};

// Every described kind describes each of the engine's parameters, in the engine's order.
constexpr bool DescribesEveryParameter(const Entry& e) {
  if (!e.described) return e.parameters.empty();
  if (static_cast<int>(e.parameters.size()) != ParameterCount(e.kind)) return false;
  for (std::size_t i = 0; i < e.parameters.size(); ++i)
    if (e.parameters[i].position != static_cast<int>(i + 1)) return false;
  return true;
}
static_assert(std::ranges::all_of(kEntries, DescribesEveryParameter),
              "a statement's descriptions do not match the engine's parameter list");

// The names of the parameters, from the engine's lists.
#define KEM_PARAMETER_NAME(position, name, kind, traits) std::string_view(name),
#define KEM_PARAMETER_NAMES(id) constexpr std::string_view kNamesOf##id[] = {KEM_PARAMETERS_##id(KEM_PARAMETER_NAME)};
KEM_STATEMENTS_WITH_PARAMETERS(KEM_PARAMETER_NAMES)
#undef KEM_PARAMETER_NAMES
#undef KEM_PARAMETER_NAME

std::span<const std::string_view> ParameterNames(StatementKind kind) {
  switch (kind) {
#define KEM_PARAMETER_NAMES_CASE(id) \
  case StatementKind::id: return kNamesOf##id;
    KEM_STATEMENTS_WITH_PARAMETERS(KEM_PARAMETER_NAMES_CASE)
#undef KEM_PARAMETER_NAMES_CASE
    default: return {};
  }
}

// Kinds without an entry above: the changes that the installer session carries out and
// the peripheral services. Their parameters are not described here and not checked.
std::string_view DefaultSummary(StatementGroup g) {
  switch (g) {
    case StatementGroup::DeferredChanges: return "a system change carried out by Apply Changes";
    case StatementGroup::PeripheralServices: return "a web-server or assembly service";
    default: return "";
  }
}

const std::array<StatementReference, kStatementKindCount + 1>& Table() {
  static const auto table = [] {
    std::array<StatementReference, kStatementKindCount + 1> t{};
    for (const auto& info : StatementKinds()) {
      auto& r = t[static_cast<std::size_t>(info.kind)];
      r.kind = info.kind;
      r.summary = DefaultSummary(info.group);
    }
    for (const auto& info : StatementKinds()) {
      auto& r = t[static_cast<std::size_t>(info.kind)];
      const auto engine = StatementParameters(info.kind);
      const auto names = ParameterNames(info.kind);
      for (std::size_t i = 0; i < engine.size(); ++i) {
        r.parameters.push_back({names[i], {}, engine[i].kind, engine[i].traits});
        if (engine[i].traits & kNegation) r.negationParameter = i + 1;
      }
    }
    for (const auto& e : kEntries) {
      auto& r = t[static_cast<std::size_t>(e.kind)];
      r.summary = e.summary;
      r.described = e.described;
      r.carriedOut = e.carriedOut;
      for (const auto& text : e.parameters) {
        auto& p = r.parameters[static_cast<std::size_t>(text.position - 1)];
        p.meaning = text.meaning;
        p.values = text.values;
        p.minimum = text.minimum;
        p.maximum = text.maximum;
      }
    }
    t[kStatementKindCount].kind = StatementKind::Unknown;
    return t;
  }();
  return table;
}

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

std::size_t Distance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      std::size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (Lower(a[i - 1]) == Lower(b[j - 1]) ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

std::string Traits(const ParameterReference& p) {
  std::string out;
  auto add = [&](std::string_view s) { out += (out.empty() ? "" : ", ") + std::string(s); };
  if (p.traits & kRequired) add("required");
  if (p.traits & kExpanded) add("expanded");
  if (p.traits & kTranslated) add("translated");
  return out;
}

std::string Values(const ParameterReference& p) {
  std::string out;
  for (const auto& v : p.values) {
    out += "`" + std::string(v.name) + "` (" + std::string(v.code) + "): " + std::string(v.meaning) + "; ";
  }
  if (!out.empty()) out.resize(out.size() - 2);
  if (p.minimum && p.maximum) out = std::to_string(*p.minimum) + " to " + std::to_string(*p.maximum);
  return out;
}

std::string Escape(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c == '|')
      out += "\\|";
    else
      out += c;
  }
  return out;
}

std::string Section(const StatementReference& r) {
  std::string out = "## " + std::string(StatementKindName(r.kind)) + "\n\n";
  out += r.summary.empty() ? std::string()
                           : std::string(1, static_cast<char>(std::toupper(r.summary[0]))) +
                                 std::string(r.summary.substr(1)) + ".\n\n";
  if (!r.carriedOut) {
    out +=
        "This engine does not carry it out: the statement does nothing when the setup runs, and `kembuild "
        "check` warns about it.\n\n";
    return out;
  }
  if (!r.described) {
    out += "Its parameters are not described in this reference yet; the builder passes them as written.\n\n";
    return out;
  }
  if (r.parameters.empty()) {
    out += "No parameters.\n\n";
    return out;
  }
  out += "| # | name | kind | how read | meaning | values |\n|---|---|---|---|---|---|\n";
  for (std::size_t i = 0; i < r.parameters.size(); ++i) {
    const auto& p = r.parameters[i];
    out += "| " + std::to_string(i + 1) + " | " + std::string(p.name) + " | " + std::string(ParameterKindName(p.kind)) +
           " | " + (Traits(p).empty() ? "as written" : Traits(p)) + " | " + Escape(p.meaning) + " | " +
           Escape(Values(p)) + " |\n";
  }
  out += "\n";
  return out;
}

}  // namespace

const StatementReference& StatementReferenceOf(StatementKind kind) {
  const auto& t = Table();
  std::size_t i = static_cast<std::size_t>(kind);
  return i < t.size() ? t[i] : t[kStatementKindCount];
}

std::string_view ParameterKindName(ParameterKind kind) noexcept {
  switch (kind) {
    case K::Text: return "text";
    case K::Path: return "path";
    case K::Integer: return "integer";
    case K::Enumeration: return "enumeration";
    case K::Flag: return "flag";
    case K::VariableName: return "variable name";
    case K::ResultVariable: return "result variable";
  }
  return "text";
}

std::optional<StatementKind> FindStatementKindIgnoringCase(std::string_view name) {
  for (const auto& info : StatementKinds())
    if (EqualIgnoringCase(info.name, name)) return info.kind;
  return std::nullopt;
}

std::string ClosestName(std::string_view name, const std::vector<std::string_view>& candidates) {
  std::string_view best;
  std::size_t bestDistance = std::max<std::size_t>(2, name.size() / 3) + 1;
  bool tie = false;
  for (auto c : candidates) {
    std::size_t d = Distance(name, c);
    if (d < bestDistance) {
      bestDistance = d;
      best = c;
      tie = false;
    } else if (d == bestDistance && !best.empty() && c != best) {
      tie = true;
    }
  }
  return tie ? std::string() : std::string(best);
}

std::string StatementReferenceText(StatementKind kind) { return Section(StatementReferenceOf(kind)); }

std::string StatementReferenceMarkdown() {
  std::string out =
      "# Statements\n\n"
      "Generated from the engine's statement tables by the build (`kembuild statements` prints it); do not edit.\n\n"
      "Every parameter is a quoted text. Kinds: *text*; *path* (backslashes as in Windows; doubled backslashes\n"
      "become single); *integer* (decimal); *enumeration* (a code, or the readable name shown before it, which\n"
      "the builder writes as the code; letter case does not matter); *flag* (TRUE or FALSE); *variable name* and\n"
      "*result variable* (NAME or $NAME$: the variable the statement reads, or the one it writes).\n"
      "*Expanded*: $NAME$ references are replaced by the variables' values when the statement runs;\n"
      "*translated*: looked up in the translation files while a language is selected. A parameter that is not\n"
      "required may be left out or empty. Statement names are written exactly as shown.\n\n";
  for (const auto& info : StatementKinds()) out += Section(StatementReferenceOf(info.kind));
  return out;
}

}  // namespace kem::builder
