#include "engine/statement_parameters.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace kem {
namespace {

using K = ParameterKind;
constexpr unsigned E = kExpanded, T = kTranslated, R = kRequired;

// --- Enumerations -----------------------------------------------------------------------

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
    {"0", "HKCR", "HKEY_CLASSES_ROOT"},  {"1", "HKCU", "HKEY_CURRENT_USER"},
    {"2", "HKLM", "HKEY_LOCAL_MACHINE"}, {"3", "HKU", "HKEY_USERS"},
    {"4", "HKCC", "HKEY_CURRENT_CONFIG"},
};

constexpr EnumerationValue kMessageIcons[] = {
    {"0", "information", "information"}, {"1", "question", "question"},
    {"2", "warning", "warning"},         {"3", "error", "error"},
};

constexpr EnumerationValue kMessageButtons[] = {
    {"0", "abort-retry-ignore", "Abort, Retry, Ignore"}, {"1", "ok", "OK"},
    {"2", "ok-cancel", "OK, Cancel"},                    {"3", "retry-cancel", "Retry, Cancel"},
    {"4", "yes-no", "Yes, No"},                          {"5", "yes-no-cancel", "Yes, No, Cancel"},
};

constexpr EnumerationValue kBalloonIcons[] = {
    {"0", "information", "information"}, {"1", "warning", "warning"}, {"2", "error", "error"}};

constexpr EnumerationValue kShowModes[] = {
    {"0", "show", "shown normally"},       {"1", "hide", "hidden"},
    {"2", "maximize", "maximized"},        {"3", "minimize", "minimized"},
    {"4", "minimize-inactive", "minimized, not activated"},
};

// --- Parameters per statement -------------------------------------------------------------

constexpr ParameterInfo kIf[] = {
    {"variable", "the variable compared (NAME or $NAME$); translated as text 1", K::VariableName, T | R},
    {"operator", "how the two sides compare", K::Enumeration, R, kConditionOperators},
    {"value", "the value on the right; translated as text 2", K::Text, E | T},
    {"negate", "TRUE reverses the outcome", K::Flag},
};
constexpr ParameterInfo kLabel[] = {{"label", "the label's name (letter case does not matter)", K::Text, R}};
constexpr ParameterInfo kGoTo[] = {{"label", "the label to continue at", K::Text, R}};
constexpr ParameterInfo kComment[] = {{"remark", "free text; the engine ignores it", K::Text}};

constexpr ParameterInfo kSetVariable[] = {
    {"variable", "the variable set; NAME$VRAX$VRAX$TRUE keeps it for maintenance runs", K::ResultVariable, R},
    {"value", "the value", K::Text, E | T},
};
constexpr ParameterInfo kLocalizationVariable[] = {
    {"variable", "the variable set", K::ResultVariable, R},
    {"value", "the value, translated by the variable's name", K::Text, E | T},
};
constexpr ParameterInfo kGetEnvironment[] = {
    {"name", "the environment variable; empty: the whole environment, one NAME=VALUE per line", K::Text, E},
    {"result", "receives the value", K::ResultVariable, R},
};
constexpr ParameterInfo kGetTemporaryFile[] = {
    {"result", "receives the path of a new empty file in TEMPDIR", K::ResultVariable, R}};
constexpr ParameterInfo kConvertPath[] = {
    {"variable", "the variable converted in place (it must exist)", K::VariableName, R},
    {"short", "TRUE: the short (8.3) form; FALSE: the long form", K::Flag},
};
constexpr ParameterInfo kConvertCase[] = {
    {"variable", "the variable converted in place (it must exist)", K::VariableName, R},
    {"upper", "TRUE: upper case; FALSE: lower case", K::Flag},
};
constexpr ParameterInfo kReplaceString[] = {
    {"variable", "the variable changed in place (it must exist)", K::VariableName, R},
    {"find", "the text to find", K::Text, E},
    {"replacement", "the text put in its place", K::Text, E},
    {"ignore-case", "TRUE: find without regard to letter case", K::Flag},
    {"all", "TRUE: replace every occurrence; FALSE: the first only", K::Flag},
};
constexpr ParameterInfo kExtractPath[] = {
    {"variable", "the variable changed in place (it must exist)", K::VariableName, R},
    {"part", "the part of the path kept", K::Enumeration, R, kPathParts},
};
constexpr ParameterInfo kParseString[] = {
    {"source", "the text split", K::Path, E},
    {"separator", "the separator (modes at-first, at-last) or the count (after-count, before-last-count)", K::Text, E},
    {"first", "receives the first part (may be empty)", K::ResultVariable},
    {"second", "receives the second part (may be empty)", K::ResultVariable},
    {"mode", "where the text is split", K::Enumeration, R, kParseModes},
    {"trim", "TRUE: blanks are removed from both ends of both parts", K::Flag},
    {"ignore-case", "TRUE: the separator is found without regard to letter case", K::Flag},
};
constexpr ParameterInfo kMathematics[] = {
    {"a", "operand a, a 64-bit integer (ord: a text)", K::Integer, E | R},
    {"b", "operand b, a 64-bit integer (not read by not, ord, chr, set-random-state, random)", K::Integer, E},
    {"operation", "the operation", K::Enumeration, R, kMathOperations},
    {"result", "receives the result (may be empty)", K::ResultVariable},
};
constexpr ParameterInfo kEvaluateExpression[] = {
    {"expression", "comparisons of quoted texts joined by and/or, e.g. $A$ = \"1\" and ($B$ > \"2\")", K::Text, R},
    {"result", "receives TRUE, FALSE or ERROR", K::ResultVariable, R},
};
constexpr ParameterInfo kExitCode[] = {{"code", "the process exit code", K::Integer, E | R}};

constexpr ParameterInfo kDisplayDialog[] = {
    {"dialog", "the dialog's name: dialogs/NAME.dfm or dialogs/NAME.dfm.txt", K::Text, R},
    {"result", "receives NEXT, BACK, CANCEL, NOTMODAL or the name of the button that ended it (usually WIZARD)",
     K::ResultVariable},
    {"modal", "TRUE: the script waits for the dialog (always so in a wizard loop)", K::Flag},
    {"condition", "a variable; the dialog is skipped when its truth equals the condition value", K::VariableName},
    {"unused", "not read by the engine (TRUE by custom)", K::Text},
    {"condition-value", "see condition", K::Flag},
};
constexpr ParameterInfo kMessageBox[] = {
    {"caption", "the box's caption", K::Text, E | T},
    {"text", "the message", K::Text, E | T},
    {"icon", "the icon", K::Enumeration, R, kMessageIcons},
    {"buttons", "the buttons", K::Enumeration, R, kMessageButtons},
    {"result", "receives the button chosen: OK, CANCEL, ABORT, RETRY, IGNORE, YES or NO", K::ResultVariable},
};
constexpr ParameterInfo kMessageBalloon[] = {
    {"title", "the balloon's title", K::Text, E | T},
    {"text", "the message", K::Text, E | T},
    {"icon", "the icon", K::Enumeration, kRaw, kBalloonIcons},
    {"seconds", "how long it shows in seconds, held to 10 to 30; a non-number counts as 10", K::Text},
};
constexpr ParameterInfo kSystemTray[] = {
    {"minimize", "exactly TRUE: minimise to the tray", K::Flag},
    {"show-icon", "exactly TRUE: show the tray icon", K::Flag},
    {"restore", "exactly TRUE: restore the window", K::Flag},
    {"remove-icon", "exactly TRUE: remove the tray icon and restore the window", K::Flag},
};

constexpr ParameterInfo kDefineComponent[] = {
    {"component", "the component's name", K::Text, E | T | R},
    {"selected", "TRUE: selected at first", K::Flag},
    {"description", "its description", K::Text, E | T},
};
constexpr ParameterInfo kComponentName[] = {{"component", "the component's name", K::Text, E | R}};
constexpr ParameterInfo kGetComponentState[] = {
    {"component", "the component's name", K::Text, E | R},
    {"result", "receives TRUE when it is selected", K::ResultVariable},
};
constexpr ParameterInfo kGetComponentSpace[] = {
    {"component", "the component's name; empty: the space all selected components need", K::Text, E},
    {"result", "receives the size in bytes", K::ResultVariable},
};
constexpr ParameterInfo kSetComponentState[] = {
    {"component", "the component's name", K::Text, E | R}, {"selected", "TRUE: selected", K::Flag}};
constexpr ParameterInfo kSetComponentSpace[] = {
    {"component", "the component's name", K::Text, E | R}, {"size", "the size in bytes", K::Integer, E}};
constexpr ParameterInfo kSetComponentChoice[] = {
    {"component", "the component's name", K::Text, E | R}, {"changeable", "TRUE: the user may change it", K::Flag}};
constexpr ParameterInfo kSetComponentVisibility[] = {
    {"component", "the component's name", K::Text, E | R}, {"visible", "TRUE: shown to the user", K::Flag}};

constexpr ParameterInfo kIsMsiSetupInstalled[] = {
    {"product-code", "the product code, a GUID in braces", K::Text, E | R},
    {"result", "receives TRUE when that product is installed", K::ResultVariable, R},
};
constexpr ParameterInfo kCheckProcess[] = {
    {"program", "the executable's file name", K::Text, E | R},
    {"result", "receives TRUE when such a process runs", K::ResultVariable},
};
constexpr ParameterInfo kCheckService[] = {
    {"service", "the service's name", K::Text, E | R},
    {"machine", "the machine; empty: this one", K::Text, E},
    {"result", "receives the state: STOPPED, STARTING, STOPPING, RUNNING, ...", K::ResultVariable},
};
constexpr ParameterInfo kDeleteRegistry[] = {
    {"root", "the root key", K::Enumeration, R, kRegistryRoots},
    {"key", "the key path", K::Text, E},
    {"value", "the value name", K::Text, E},
    {"delete-key", "TRUE: delete the whole key", K::Flag},
};
constexpr ParameterInfo kTerminateProgram[] = {
    {"title", "part of the window's title (empty: any)", K::Text, E},
    {"class", "part of the window's class name (empty: any)", K::Text, E},
};
constexpr ParameterInfo kSet64BitMode[] = {
    {"win32", "exactly TRUE: 32-bit mode", K::Flag},
    {"ia64", "exactly TRUE: Itanium mode", K::Flag},
    {"x64", "exactly TRUE: x64 mode", K::Flag},
};
constexpr ParameterInfo kSelectionsFile[] = {{"file", "the selection file", K::Path, E | R}};

constexpr ParameterInfo kApplyChanges[] = {
    {"dialog", "the progress dialog's name", K::Text},
    {"result", "receives COMPLETE, REBOOT, CANCEL or ERROR", K::ResultVariable},
    {"install", "TRUE: install", K::Flag},
    {"remove", "TRUE (with install FALSE): remove; both FALSE: advertise", K::Flag},
};
constexpr ParameterInfo kApplyPatch[] = {{"result", "receives the outcome", K::ResultVariable}};
constexpr ParameterInfo kExtract7Zip[] = {
    {"archive", "the archive's path", K::Path, E | R},
    {"destination", "the folder it is unpacked into", K::Path, E | R},
    {"result", "receives SUCCESS or the error", K::ResultVariable},
    {"password", "the archive's password", K::Text, E},
    {"overwrite", "TRUE: existing files are replaced", K::Flag},
    {"arrangement", "TRUE: the archive's folders are kept", K::Flag},
};
constexpr ParameterInfo kWebMediaBlock[] = {
    {"block", "the block's name, a file name (empty: the end of the web blocks)", K::Text},
    {"urls", "the download addresses, one per line", K::Text, E},
    {"unused", "not read by the engine", K::Text},
};

constexpr ParameterInfo kDoesFileExist[] = {
    {"result", "receives TRUE or FALSE", K::ResultVariable, R},
    {"path", "the file or folder", K::Path, E},
    {"file", "TRUE: look for a file; FALSE: for a folder", K::Flag},
};
constexpr ParameterInfo kCheckDiskSpace[] = {
    {"result", "receives the size in bytes", K::ResultVariable, R},
    {"path", "a path on the volume", K::Path, E},
    {"free", "TRUE: the free space; FALSE: the total size", K::Flag},
};
constexpr ParameterInfo kDeleteFilesRecursive[] = {{"mask", "a folder and a file mask, e.g. $TARGETDIR$\\*.*", K::Path, E | R}};
constexpr ParameterInfo kFindAllFiles[] = {
    {"mask", "a folder and a file mask", K::Path, E | R},
    {"subfolders", "TRUE: search the subfolders too", K::Flag},
    {"folders", "TRUE: list folders too", K::Flag},
    {"result", "receives the paths found, joined by |", K::ResultVariable, R},
};
constexpr ParameterInfo kGetIni[] = {
    {"result", "receives the value, or empty", K::ResultVariable, R},
    {"file", "the INI file", K::Path, E},
    {"section", "the section", K::Text, E},
    {"key", "the key", K::Text, E},
};
constexpr ParameterInfo kReadText[] = {
    {"file", "the text file; #READALL\\ in front reads the rest of the file at once", K::Path, E | R},
    {"line", "receives the next line", K::ResultVariable, R},
    {"end", "receives TRUE at the end of the file", K::ResultVariable},
};
constexpr ParameterInfo kWriteText[] = {
    {"file", "the text file", K::Path, E | R},
    {"line", "the line written", K::Text, E},
    {"at-top", "TRUE: insert the line at the top", K::Flag},
};
constexpr ParameterInfo kGetFileVersion[] = {
    {"file", "the file", K::Path, E | R},
    {"result", "receives the version", K::ResultVariable, R},
};
constexpr ParameterInfo kCheckFileVersion[] = {
    {"result", "receives TRUE or FALSE", K::ResultVariable, R},
    {"file", "the file", K::Path, E},
    {"compare-file", "TRUE: compare with another file's version", K::Flag},
    {"other-file", "the other file", K::Path, E},
    {"version", "the version compared with", K::Text, E},
};
constexpr ParameterInfo kReadRegistry[] = {
    {"result", "receives the value", K::ResultVariable, R},
    {"root", "the root key", K::Enumeration, R, kRegistryRoots},
    {"key", "the key path", K::Text, E},
    {"value", "the value name", K::Text, E},
};
constexpr ParameterInfo kGetOsLevel[] = {
    {"result", "receives the name or the level", K::ResultVariable, R},
    {"name", "TRUE: the system's name; FALSE: the service pack level", K::Flag},
};
constexpr ParameterInfo kGetSystemSettings[] = {
    {"result", "receives the setting", K::ResultVariable, R},
    {"setting", "the setting's code, 0 to 81", K::Integer, R, {}, 0, 81},
};
constexpr ParameterInfo kGetFolderLocation[] = {
    {"result", "receives the folder, with a trailing backslash", K::ResultVariable, R},
    {"folder", "the folder's code, 0 to 28", K::Integer, R, {}, 0, 28},
    {"all-users", "TRUE: the all-users folder", K::Flag},
};
constexpr ParameterInfo kRunProgram[] = {
    {"program", "the program", K::Path, E | R},
    {"hidden", "TRUE: no window", K::Flag},
    {"arguments", "its command-line arguments", K::Text, E},
    {"wait", "TRUE: wait until it ends", K::Flag},
    {"result", "receives its exit code", K::ResultVariable},
};
constexpr ParameterInfo kRunProgramAs[] = {
    {"program", "the program", K::Path, E | R},
    {"folder", "its working folder", K::Path, E},
    {"arguments", "its command-line arguments", K::Text, E},
    {"show", "how its window shows", K::Enumeration, R, kShowModes},
    {"user", "the user name", K::Text, E},
    {"password", "the password", K::Text, E},
    {"domain", "the domain", K::Text, E},
    {"result", "receives its exit code", K::ResultVariable},
    {"wait", "TRUE: wait until it ends", K::Flag},
    {"environment", "NAME=VALUE lines; empty: the engine's environment", K::Text, E},
};
constexpr ParameterInfo kRunLightMode[] = {
    {"setup", "the setup data file", K::Path, E | R},
    {"result", "receives the outcome", K::ResultVariable},
    {"arguments", "command-line arguments", K::Text, E},
    {"wait", "TRUE: wait until it ends", K::Flag},
};
constexpr ParameterInfo kRegisterLibrary[] = {
    {"file", "the library", K::Path, E | R},
    {"register", "TRUE: register; FALSE: unregister", K::Flag},
    {"result", "receives TRUE on success", K::ResultVariable},
};
// The deferred statements: the builder turns them into installer rows; the engine records
// the values that the rows take at run time (docs/installer-rows.md).
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
constexpr ParameterInfo kInstallFiles[] = {
    {"files", "source files relative to the project folder, separated by |: a file, a folder (its whole contents), "
              "or a * and ? pattern in the last part",
     K::Text, R},
    {"subfolders", "TRUE: a pattern also takes the matching files of subfolders, into the same subfolders", K::Flag},
    {"folder", "the destination folder, a full path", K::Path, E | R},
    {"permanent", "TRUE: the files stay when the product is removed", K::Flag},
};
constexpr ParameterInfo kInstallAssembly[] = {
    {"file", "the assembly file, relative to the project folder", K::Text, R},
    {"unused", "not used", K::Text},
    {"folder", "the destination folder, a full path (the assembly is installed as a file)", K::Path, E | R},
};
constexpr ParameterInfo kShortcut[] = {
    {"target", "the file the shortcut starts", K::Path, E | R},
    {"name", "the shortcut's name, without .lnk", K::Text, E | T | R},
    {"folder", "the folder that gets the shortcut, a full path", K::Path, E | R},
    {"description", "its description (tooltip)", K::Text, E | T},
    {"arguments", "command-line arguments", K::Text, E},
    {"working-folder", "the working folder", K::Path, E},
    {"show", "how the started program's window shows (default normal)", K::Enumeration, kRaw, kShowCommands},
    {"app-id", "after a |: the application user model ID", K::Text},
    {"pin", "after a |: the pin flags", K::Text},
};
constexpr ParameterInfo kWriteRegistryParams[] = {
    {"root", "the root key (HKCR, HKCU, HKLM or HKU)", K::Enumeration, R, kRegistryRoots},
    {"key", "the key path, as written (no variables)", K::Text, R},
    {"value", "the value name; empty: the default value (with empty data too: the key alone)", K::Text, E},
    {"data", "the value's data", K::Text, E},
    {"type", "the value's type (default string), as written", K::Enumeration, kRaw, kRegistryTypes},
    {"permanent", "TRUE: the value stays when the product is removed", K::Flag},
};
constexpr ParameterInfo kEditIni[] = {
    {"folder", "the folder of the INI file, a full path", K::Path, E | R},
    {"file", "the INI file's name", K::Text, R},
    {"action", "how the value is written (default write)", K::Enumeration, kRaw, kIniActions},
    {"section", "the section", K::Text, E | R},
    {"key", "the key", K::Text, E | R},
    {"value", "the value", K::Text, E},
};
constexpr ParameterInfo kSetEnvironmentParams[] = {
    {"name", "the environment variable", K::Text, R},
    {"value", "the value", K::Text, E},
    {"mode", "how the value is written (default set)", K::Enumeration, kRaw, kEnvironmentModes},
    {"system", "TRUE: the system's variable; FALSE: the user's", K::Flag},
    {"permanent", "TRUE: the value stays when the product is removed", K::Flag},
};
constexpr ParameterInfo kCreateFolderParams[] = {
    {"folder", "the folder, a full path; removed with the product when empty", K::Path, E | R},
};
constexpr ParameterInfo kDeleteFilesParams[] = {
    {"folder", "the folder, a full path", K::Path, E | R},
    {"files", "the file names, * and ? allowed; empty: the folder itself when it is empty", K::Text},
    {"at-install", "TRUE: delete them when the product is installed", K::Flag},
    {"at-removal", "TRUE: delete them when the product is removed (one of the two must be TRUE)", K::Flag},
};
constexpr ParameterInfo kCopyMoveParams[] = {
    {"source-folder", "the folder the files are in, a full path", K::Path, E | R},
    {"files", "the file names, * and ? allowed", K::Text, R},
    {"folder", "the destination folder, a full path", K::Path, E | R},
    {"new-name", "a new name for a single file", K::Text},
    {"move", "TRUE: move; FALSE: copy", K::Flag},
};
constexpr ParameterInfo kFileType[] = {
    {"type", "the file type's name (program identifier)", K::Text, E | T | R},
    {"extension", "the extension with its dot, such as .txt", K::Text, E | R},
    {"description", "the type's description", K::Text, E | T},
    {"command", "the command line that opens a file, such as \"C:\\App\\app.exe\" \"%1\"", K::Text, E | R},
    {"icon", "the icon: file,index", K::Text, E},
};
constexpr ParameterInfo kAdvertisedFileType[] = {
    {"type", "the file type's name, as written", K::Text, R},
    {"extension", "the extension with its dot, as written", K::Text, R},
    {"description", "the type's description, as written", K::Text},
    {"command", "the command line that opens a file, as written", K::Text, R},
    {"icon", "the icon: file,index, as written", K::Text},
};
constexpr ParameterInfo kInstallServiceParams[] = {
    {"file", "the service program, relative to the project folder", K::Text, R},
    {"name", "the service's name", K::Text, E | R},
    {"start", "when it starts (default auto)", K::Enumeration, kRaw, kStartTypes},
    {"display-name", "the name the service list shows", K::Text, E | T},
    {"description", "its description", K::Text, E | T},
    {"group", "its load-order group", K::Text, E | T},
    {"type", "the service type (default 16: own process; 32: shared; +256: interactive)", K::Integer, kRaw, {}, 0, 511},
    {"error-control", "what a failed start does (default normal)", K::Enumeration, kRaw, kErrorControls},
    {"folder", "the folder the program goes to, a full path", K::Path, E | T | R},
    {"dependencies", "services it needs, each followed by ~", K::Text, E | T},
    {"start-now", "TRUE: start it at installation", K::Flag},
    {"unused", "not used", K::Text},
    {"account", "the account it runs as; empty: LocalSystem", K::Text, E},
    {"password", "the account's password", K::Text, E},
    {"arguments", "the program's arguments", K::Text, E},
};
constexpr ParameterInfo kControlServiceParams[] = {
    {"name", "the service's name", K::Text, E | T | R},
    {"arguments", "arguments for a start", K::Text, E},
    {"events", "the sum of: 1 start, 2 stop, 8 delete at installation; 16 start, 32 stop, 128 delete at removal "
               "(default 1)",
     K::Integer, kRaw, {}, 0, 255},
    {"wait", "TRUE: wait until the service has done it", K::Flag},
};
constexpr ParameterInfo kOdbcDriver[] = {
    {"driver", "the driver's name", K::Text, R},
    {"file", "the driver file", K::Text},
    {"setup", "the driver's setup file", K::Text},
    {"folder", "the destination folder", K::Path, E},
};
constexpr ParameterInfo kNone[] = {{"", "", K::Text}};

// The peripheral services, carried out when the statement runs.
constexpr ParameterInfo kCreateShare[] = {
    {"name", "the share's name", K::Text, E | R},
    {"folder", "the folder shared", K::Path, E | R},
    {"remark", "the share's remark", K::Text, E},
    {"max-users", "the most users at a time; empty or below 1: no limit", K::Integer, E},
};
constexpr ParameterInfo kDeleteShare[] = {{"name", "the share's name", K::Text, E | R}};
constexpr ParameterInfo kSetAccessControl[] = {
    {"object", "a file or folder, a registry key (HKLM\\..., HKEY_CURRENT_USER\\..., ...) or a share (\\\\server\\share)",
     K::Path, E | R},
    {"accounts", "the accounts, added up: 1 Everyone, 2 Users, 4 Administrators, 8 Authenticated Users, 16 Power "
     "Users, 32 SYSTEM; 0: nothing is granted", K::Integer, E | R},
    {"rights", "4 (or any value with that bit) full control, else 2 modify, else read; 0: nothing is granted",
     K::Integer, E | R},
};
constexpr ParameterInfo kScheduleTask[] = {
    {"name", "the task's name; translated as text 1", K::Text, E | T | R},
    {"computer", "the computer (\\\\NAME or NAME); empty: this one", K::Text, E},
    {"program", "the program the task runs", K::Path, E | R},
    {"arguments", "its command-line arguments", K::Text, E},
    {"folder", "its working folder", K::Path, E},
    {"flags", "the Task Scheduler's task flags, a number; empty: 0", K::Integer, E},
    {"start", "the first start, YYYY-MM-DD or YYYY-MM-DD HH:MM; empty: none", K::Text, E},
};
constexpr ParameterInfo kDeleteScheduledTask[] = {
    {"name", "the task's name; translated as text 1", K::Text, E | T | R},
    {"computer", "the computer (\\\\NAME or NAME); empty: this one", K::Text, E},
};
constexpr ParameterInfo kNativeImages[] = {
    {"assembly", "ASSEMBLY|INSTALL: the assembly's path, then FALSE to remove its native images (else they are "
     "made)", K::Text, E | R},
};
constexpr ParameterInfo kInstallerClass[] = {
    {"assembly", "the assembly's path", K::Path, E | R},
    {"install", "TRUE: install; else uninstall", K::Flag},
};
constexpr ParameterInfo kRegisterAssembly[] = {
    {"assembly", "ASSEMBLY|REGISTER|CODEBASE: the assembly's path, FALSE to unregister (else it is registered), "
     "TRUE to record its code base", K::Text, E | R},
};

struct Entry {
  StatementKind kind;
  std::string_view summary;
  std::span<const ParameterInfo> parameters;
  bool described = true;
  bool carriedOut = true;
};

template <std::size_t N>
constexpr std::span<const ParameterInfo> P(const ParameterInfo (&a)[N]) {
  return std::span<const ParameterInfo>(a, N);
}
constexpr std::span<const ParameterInfo> kNoParameters = std::span<const ParameterInfo>(kNone, 0);

using S = StatementKind;
const Entry kEntries[] = {
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
    {S::CreateOdbcDsn, "creates an ODBC data source when the changes are applied (not yet built into the "
                       "installer database: the builder refuses it)", {}, false},
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
    {S::InstallOdbcDriver, "installs an ODBC driver when the changes are applied (not yet built into the "
                           "installer database: the builder refuses it)", P(kOdbcDriver)},
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
    for (const auto& e : kEntries) {
      auto& r = t[static_cast<std::size_t>(e.kind)];
      r.summary = e.summary;
      r.described = e.described;
      r.carriedOut = e.carriedOut;
      r.parameters = e.parameters;
      if (e.kind == S::If || e.kind == S::ElseIf) r.negationParameter = 4;
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

std::string Traits(const ParameterInfo& p) {
  std::string out;
  auto add = [&](std::string_view s) { out += (out.empty() ? "" : ", ") + std::string(s); };
  if (p.traits & kRequired) add("required");
  if (p.traits & kExpanded) add("expanded");
  if (p.traits & kTranslated) add("translated");
  return out;
}

std::string Values(const ParameterInfo& p) {
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
    if (c == '|') out += "\\|";
    else out += c;
  }
  return out;
}

std::string Section(const StatementReference& r) {
  std::string out = "## " + std::string(StatementKindName(r.kind)) + "\n\n";
  out += r.summary.empty() ? std::string() : std::string(1, static_cast<char>(std::toupper(r.summary[0]))) +
                                                 std::string(r.summary.substr(1)) + ".\n\n";
  if (!r.carriedOut) {
    out += "This engine does not carry it out: the statement does nothing when the setup runs, and `kembuild "
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
    out += "| " + std::to_string(i + 1) + " | " + std::string(p.name) + " | " +
           std::string(ParameterKindName(p.kind)) + " | " + (Traits(p).empty() ? "as written" : Traits(p)) + " | " +
           Escape(p.meaning) + " | " + Escape(Values(p)) + " |\n";
  }
  out += "\n";
  return out;
}

}  // namespace

const StatementReference& StatementParameters(StatementKind kind) noexcept {
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

std::string StatementReferenceText(StatementKind kind) { return Section(StatementParameters(kind)); }

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
  for (const auto& info : StatementKinds()) out += Section(StatementParameters(info.kind));
  return out;
}

}  // namespace kem
