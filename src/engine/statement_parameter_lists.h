// The parameter lists of the statement kinds, one X-macro per kind with parameters:
//   KEM_PARAMETERS_<Kind>(P) expands P(Position, "name", Kind, traits) once per parameter, in order.
// Position names the parameter in the code (param::<Kind>::Position, 1-based); "name" is how the
// builder's reference and messages call it; Kind is a ParameterKind; traits combine
// ParameterTrait values, with E expanded, T translated and R required.
// KEM_STATEMENTS_WITH_PARAMETERS(X) lists every kind that has such a list. Kinds that share
// their parameters with another kind expand that kind's list.
// The kinds this engine does not carry out list only the parameters the validation pass
// reads (the result variables it declares).
#pragma once

// clang-format off
#define KEM_PARAMETERS_If(P)                                                         \
  P(Variable, "variable", VariableName, T | R | kNeedsVariable | kDefinedReference)  \
  P(Operator, "operator", Enumeration, R)                                            \
  P(Value, "value", Text, E | T | kDefinedReference)                                 \
  P(Negate, "negate", Flag, kNegation)
#define KEM_PARAMETERS_ElseIf(P) KEM_PARAMETERS_If(P)
#define KEM_PARAMETERS_Label(P)  \
  P(Label, "label", Text, R)
#define KEM_PARAMETERS_GoToLabel(P)  \
  P(Label, "label", Text, R)
#define KEM_PARAMETERS_Comment(P)  \
  P(Remark, "remark", Text, 0)
#define KEM_PARAMETERS_SetVariable(P)                        \
  P(Variable, "variable", ResultVariable, R | kPersistable)  \
  P(Value, "value", Text, E | T)
#define KEM_PARAMETERS_LocalizationVariable(P)  \
  P(Variable, "variable", ResultVariable, R)    \
  P(Value, "value", Text, E | T)
#define KEM_PARAMETERS_GetEnvironment(P)  \
  P(Name, "name", Text, E)                \
  P(Result, "result", ResultVariable, R)
#define KEM_PARAMETERS_GetTemporaryFile(P)  \
  P(Result, "result", ResultVariable, R)
#define KEM_PARAMETERS_ConvertPath(P)                    \
  P(Variable, "variable", VariableName, R | kMustExist)  \
  P(Short, "short", Flag, 0)
#define KEM_PARAMETERS_ConvertCase(P)                    \
  P(Variable, "variable", VariableName, R | kMustExist)  \
  P(Upper, "upper", Flag, 0)
#define KEM_PARAMETERS_ReplaceString(P)                  \
  P(Variable, "variable", VariableName, R | kMustExist)  \
  P(Find, "find", Text, E)                               \
  P(Replacement, "replacement", Text, E)                 \
  P(IgnoreCase, "ignore-case", Flag, 0)                  \
  P(All, "all", Flag, 0)
#define KEM_PARAMETERS_ExtractPath(P)                    \
  P(Variable, "variable", VariableName, R | kMustExist)  \
  P(Part, "part", Enumeration, R)
#define KEM_PARAMETERS_ParseString(P)     \
  P(Source, "source", Path, E)            \
  P(Separator, "separator", Text, E)      \
  P(First, "first", ResultVariable, 0)    \
  P(Second, "second", ResultVariable, 0)  \
  P(Mode, "mode", Enumeration, R)         \
  P(Trim, "trim", Flag, 0)                \
  P(IgnoreCase, "ignore-case", Flag, 0)
#define KEM_PARAMETERS_Mathematics(P)        \
  P(A, "a", Integer, E | R)                  \
  P(B, "b", Integer, E)                      \
  P(Operation, "operation", Enumeration, R)  \
  P(Result, "result", ResultVariable, 0)
#define KEM_PARAMETERS_EvaluateExpression(P)          \
  P(Expression, "expression", Text, R | kExpression)  \
  P(Result, "result", ResultVariable, R)
#define KEM_PARAMETERS_TerminateWithExitCode(P)  \
  P(Code, "code", Integer, E | R)
#define KEM_PARAMETERS_DisplayDialog(P)                       \
  P(Dialog, "dialog", Text, R | kNeedsDialogName)             \
  P(Result, "result", ResultVariable, 0)                      \
  P(Modal, "modal", Flag, 0)                                  \
  P(Condition, "condition", VariableName, kDefinedReference)  \
  P(Unused, "unused", Text, 0)                                \
  P(ConditionValue, "condition-value", Flag, 0)
#define KEM_PARAMETERS_MessageBox(P)      \
  P(Caption, "caption", Text, E | T)      \
  P(Text, "text", Text, E | T)            \
  P(Icon, "icon", Enumeration, R)         \
  P(Buttons, "buttons", Enumeration, R)   \
  P(Result, "result", ResultVariable, 0)
#define KEM_PARAMETERS_MessageBalloon(P)  \
  P(Title, "title", Text, E | T)          \
  P(Text, "text", Text, E | T)            \
  P(Icon, "icon", Enumeration, 0)         \
  P(Seconds, "seconds", Text, 0)
#define KEM_PARAMETERS_SystemTray(P)     \
  P(Minimize, "minimize", Flag, 0)       \
  P(ShowIcon, "show-icon", Flag, 0)      \
  P(Restore, "restore", Flag, 0)         \
  P(RemoveIcon, "remove-icon", Flag, 0)
#define KEM_PARAMETERS_DefineComponent(P)     \
  P(Component, "component", Text, E | T | R)  \
  P(Selected, "selected", Flag, 0)            \
  P(Description, "description", Text, E | T)
#define KEM_PARAMETERS_DeleteComponent(P)  \
  P(Component, "component", Text, E | R)
#define KEM_PARAMETERS_GetComponentState(P)  \
  P(Component, "component", Text, E | R)     \
  P(Result, "result", ResultVariable, 0)
#define KEM_PARAMETERS_GetComponentSpace(P)  \
  P(Component, "component", Text, E)         \
  P(Result, "result", ResultVariable, 0)
#define KEM_PARAMETERS_SetComponentState(P)  \
  P(Component, "component", Text, E | R)     \
  P(Selected, "selected", Flag, 0)
#define KEM_PARAMETERS_SetComponentSpace(P)  \
  P(Component, "component", Text, E | R)     \
  P(Size, "size", Integer, E)
#define KEM_PARAMETERS_SetComponentChoice(P)  \
  P(Component, "component", Text, E | R)      \
  P(Changeable, "changeable", Flag, 0)
#define KEM_PARAMETERS_SetComponentVisibility(P)  \
  P(Component, "component", Text, E | R)          \
  P(Visible, "visible", Flag, 0)
#define KEM_PARAMETERS_IsMsiSetupInstalled(P)              \
  P(ProductCode, "product-code", Text, E | R)              \
  P(Result, "result", ResultVariable, R | kNeedsVariable)
#define KEM_PARAMETERS_CheckProcess(P)    \
  P(Program, "program", Text, E | R)      \
  P(Result, "result", ResultVariable, 0)
#define KEM_PARAMETERS_CheckService(P)    \
  P(Service, "service", Text, E | R)      \
  P(Machine, "machine", Text, E)          \
  P(Result, "result", ResultVariable, 0)
#define KEM_PARAMETERS_DeleteRegistry(P)  \
  P(Root, "root", Enumeration, R)         \
  P(Key, "key", Text, E)                  \
  P(Value, "value", Text, E)              \
  P(DeleteKey, "delete-key", Flag, 0)
#define KEM_PARAMETERS_TerminateProgram(P)  \
  P(Title, "title", Text, E)                \
  P(Class, "class", Text, E)
#define KEM_PARAMETERS_Set64BitMode(P)  \
  P(Win32, "win32", Flag, 0)            \
  P(Ia64, "ia64", Flag, 0)              \
  P(X64, "x64", Flag, 0)
#define KEM_PARAMETERS_SaveFeatureSelections(P)  \
  P(File, "file", Path, E | R)
#define KEM_PARAMETERS_LoadFeatureSelections(P) KEM_PARAMETERS_SaveFeatureSelections(P)
#define KEM_PARAMETERS_InstallFiles(P)                   \
  P(Files, "files", Text, R)                             \
  P(Subfolders, "subfolders", Flag, 0)                   \
  P(Folder, "folder", Path, E | R | kNeedsTargetFolder)  \
  P(Permanent, "permanent", Flag, 0)
#define KEM_PARAMETERS_InstallAssembly(P)  \
  P(File, "file", Text, R)                 \
  P(Unused, "unused", Text, 0)             \
  P(Folder, "folder", Path, E | R)
#define KEM_PARAMETERS_CreateShortcut(P)       \
  P(Target, "target", Path, E | R)             \
  P(Name, "name", Text, E | T | R)             \
  P(Folder, "folder", Path, E | R)             \
  P(Description, "description", Text, E | T)   \
  P(Arguments, "arguments", Text, E)           \
  P(WorkingFolder, "working-folder", Path, E)  \
  P(Show, "show", Enumeration, 0)              \
  P(AppId, "app-id", Text, 0)                  \
  P(Pin, "pin", Text, 0)
#define KEM_PARAMETERS_AdvertisedShortcut(P) KEM_PARAMETERS_CreateShortcut(P)
#define KEM_PARAMETERS_WriteRegistry(P)  \
  P(Root, "root", Enumeration, R)        \
  P(Key, "key", Text, R)                 \
  P(Value, "value", Text, E)             \
  P(Data, "data", Text, E)               \
  P(Type, "type", Enumeration, 0)        \
  P(Permanent, "permanent", Flag, 0)
#define KEM_PARAMETERS_EditIniFile(P)  \
  P(Folder, "folder", Path, E | R)     \
  P(File, "file", Text, R)             \
  P(Action, "action", Enumeration, 0)  \
  P(Section, "section", Text, E | R)   \
  P(Key, "key", Text, E | R)           \
  P(Value, "value", Text, E)
#define KEM_PARAMETERS_SetEnvironment(P)  \
  P(Name, "name", Text, R)                \
  P(Value, "value", Text, E)              \
  P(Mode, "mode", Enumeration, 0)         \
  P(System, "system", Flag, 0)            \
  P(Permanent, "permanent", Flag, 0)
#define KEM_PARAMETERS_CreateFolder(P)  \
  P(Folder, "folder", Path, E | R)
#define KEM_PARAMETERS_DeleteFiles(P)  \
  P(Folder, "folder", Path, E | R)     \
  P(Files, "files", Text, 0)           \
  P(AtInstall, "at-install", Flag, 0)  \
  P(AtRemoval, "at-removal", Flag, 0)
#define KEM_PARAMETERS_CopyMoveLocalFiles(P)     \
  P(SourceFolder, "source-folder", Path, E | R)  \
  P(Files, "files", Text, R)                     \
  P(Folder, "folder", Path, E | R)               \
  P(NewName, "new-name", Text, 0)                \
  P(Move, "move", Flag, 0)
#define KEM_PARAMETERS_CreateFileType(P)      \
  P(Type, "type", Text, E | T | R)            \
  P(Extension, "extension", Text, E | R)      \
  P(Description, "description", Text, E | T)  \
  P(Command, "command", Text, E | R)          \
  P(Icon, "icon", Text, E)
#define KEM_PARAMETERS_AdvertisedFileType(P)  \
  P(Type, "type", Text, R)                    \
  P(Extension, "extension", Text, R)          \
  P(Description, "description", Text, 0)      \
  P(Command, "command", Text, R)              \
  P(Icon, "icon", Text, 0)
#define KEM_PARAMETERS_InstallService(P)            \
  P(File, "file", Text, R)                          \
  P(Name, "name", Text, E | R)                      \
  P(Start, "start", Enumeration, 0)                 \
  P(DisplayName, "display-name", Text, E | T)       \
  P(Description, "description", Text, E | T)        \
  P(Group, "group", Text, E | T)                    \
  P(Type, "type", Integer, 0)                       \
  P(ErrorControl, "error-control", Enumeration, 0)  \
  P(Folder, "folder", Path, E | T | R)              \
  P(Dependencies, "dependencies", Text, E | T)      \
  P(StartNow, "start-now", Flag, 0)                 \
  P(Unused, "unused", Text, 0)                      \
  P(Account, "account", Text, E)                    \
  P(Password, "password", Text, E)                  \
  P(Arguments, "arguments", Text, E)
#define KEM_PARAMETERS_ControlService(P)  \
  P(Name, "name", Text, E | T | R)        \
  P(Arguments, "arguments", Text, E)      \
  P(Events, "events", Integer, 0)         \
  P(Wait, "wait", Flag, 0)
#define KEM_PARAMETERS_InstallOdbcDriver(P)  \
  P(Driver, "driver", Text, R)               \
  P(File, "file", Text, 0)                   \
  P(Setup, "setup", Text, 0)                 \
  P(Folder, "folder", Path, E)
#define KEM_PARAMETERS_ApplyChanges(P)    \
  P(Dialog, "dialog", Text, 0)            \
  P(Result, "result", ResultVariable, 0)  \
  P(Install, "install", Flag, 0)          \
  P(Remove, "remove", Flag, 0)
#define KEM_PARAMETERS_ApplyPatch(P)      \
  P(Result, "result", ResultVariable, 0)
#define KEM_PARAMETERS_Extract7ZipArchive(P)  \
  P(Archive, "archive", Path, E | R)          \
  P(Destination, "destination", Path, E | R)  \
  P(Result, "result", ResultVariable, 0)      \
  P(Password, "password", Text, E)            \
  P(Overwrite, "overwrite", Flag, 0)          \
  P(Arrangement, "arrangement", Flag, 0)
#define KEM_PARAMETERS_WebMediaBlock(P)  \
  P(Block, "block", Text, 0)             \
  P(Urls, "urls", Text, E)               \
  P(Unused, "unused", Text, 0)
#define KEM_PARAMETERS_DoesFileFolderExist(P)  \
  P(Result, "result", ResultVariable, R)       \
  P(Path, "path", Path, E)                     \
  P(File, "file", Flag, 0)
#define KEM_PARAMETERS_CheckDiskSpace(P)                   \
  P(Result, "result", ResultVariable, R | kNeedsVariable)  \
  P(Path, "path", Path, E)                                 \
  P(Free, "free", Flag, 0)
#define KEM_PARAMETERS_DeleteFilesRecursive(P)  \
  P(Mask, "mask", Path, E | R)
#define KEM_PARAMETERS_FindAllFiles(P)                     \
  P(Mask, "mask", Path, E | R)                             \
  P(Subfolders, "subfolders", Flag, 0)                     \
  P(Folders, "folders", Flag, 0)                           \
  P(Result, "result", ResultVariable, R | kNeedsVariable)
#define KEM_PARAMETERS_GetIniFileSettings(P)  \
  P(Result, "result", ResultVariable, R)      \
  P(File, "file", Path, E)                    \
  P(Section, "section", Text, E)              \
  P(Key, "key", Text, E)
#define KEM_PARAMETERS_ReadFromTextFile(P)  \
  P(File, "file", Path, E | R)              \
  P(Line, "line", ResultVariable, R)        \
  P(End, "end", ResultVariable, 0)
#define KEM_PARAMETERS_WriteToTextFile(P)  \
  P(File, "file", Path, E | R)             \
  P(Line, "line", Text, E)                 \
  P(AtTop, "at-top", Flag, 0)
#define KEM_PARAMETERS_GetFileVersion(P)  \
  P(File, "file", Path, E | R)            \
  P(Result, "result", ResultVariable, R)
#define KEM_PARAMETERS_CheckFileVersion(P)  \
  P(Result, "result", ResultVariable, R)    \
  P(File, "file", Path, E)                  \
  P(CompareFile, "compare-file", Flag, 0)   \
  P(OtherFile, "other-file", Path, E)       \
  P(Version, "version", Text, E)
#define KEM_PARAMETERS_ReadRegistry(P)    \
  P(Result, "result", ResultVariable, R)  \
  P(Root, "root", Enumeration, R)         \
  P(Key, "key", Text, E)                  \
  P(Value, "value", Text, E)
#define KEM_PARAMETERS_CheckRegistry(P) KEM_PARAMETERS_ReadRegistry(P)
#define KEM_PARAMETERS_GetOsOrSpLevel(P)  \
  P(Result, "result", ResultVariable, R)  \
  P(Name, "name", Flag, 0)
#define KEM_PARAMETERS_GetSystemSettings(P)  \
  P(Result, "result", ResultVariable, R)     \
  P(Setting, "setting", Integer, R)
#define KEM_PARAMETERS_GetFolderLocation(P)  \
  P(Result, "result", ResultVariable, R)     \
  P(Folder, "folder", Integer, R)            \
  P(AllUsers, "all-users", Flag, 0)
#define KEM_PARAMETERS_RunProgram(P)      \
  P(Program, "program", Path, E | R)      \
  P(Hidden, "hidden", Flag, 0)            \
  P(Arguments, "arguments", Text, E)      \
  P(Wait, "wait", Flag, 0)                \
  P(Result, "result", ResultVariable, 0)
#define KEM_PARAMETERS_RunProgramAs(P)    \
  P(Program, "program", Path, E | R)      \
  P(Folder, "folder", Path, E)            \
  P(Arguments, "arguments", Text, E)      \
  P(Show, "show", Enumeration, R)         \
  P(User, "user", Text, E)                \
  P(Password, "password", Text, E)        \
  P(Domain, "domain", Text, E)            \
  P(Result, "result", ResultVariable, 0)  \
  P(Wait, "wait", Flag, 0)                \
  P(Environment, "environment", Text, E)
#define KEM_PARAMETERS_RunLightModeSetup(P)  \
  P(Setup, "setup", Path, E | R)             \
  P(Result, "result", ResultVariable, 0)     \
  P(Arguments, "arguments", Text, E)         \
  P(Wait, "wait", Flag, 0)
#define KEM_PARAMETERS_RegisterLibrary(P)  \
  P(File, "file", Path, E | R)             \
  P(Register, "register", Flag, 0)         \
  P(Result, "result", ResultVariable, 0)
#define KEM_PARAMETERS_CreateShare(P)   \
  P(Name, "name", Text, E | R)          \
  P(Folder, "folder", Path, E | R)      \
  P(Remark, "remark", Text, E)          \
  P(MaxUsers, "max-users", Integer, E)
#define KEM_PARAMETERS_DeleteShare(P)  \
  P(Name, "name", Text, E | R)
#define KEM_PARAMETERS_SetAccessControl(P)  \
  P(Object, "object", Path, E | R)          \
  P(Accounts, "accounts", Integer, E | R)   \
  P(Rights, "rights", Integer, E | R)
#define KEM_PARAMETERS_ScheduleTask(P)  \
  P(Name, "name", Text, E | T | R)      \
  P(Computer, "computer", Text, E)      \
  P(Program, "program", Path, E | R)    \
  P(Arguments, "arguments", Text, E)    \
  P(Folder, "folder", Path, E)          \
  P(Flags, "flags", Integer, E)         \
  P(Start, "start", Text, E)
#define KEM_PARAMETERS_DeleteScheduledTask(P)  \
  P(Name, "name", Text, E | T | R)             \
  P(Computer, "computer", Text, E)
#define KEM_PARAMETERS_GenerateNativeImages(P)  \
  P(Assembly, "assembly", Text, E | R)
#define KEM_PARAMETERS_RunDotNetInstallerClass(P)  \
  P(Assembly, "assembly", Path, E | R)             \
  P(Install, "install", Flag, 0)
#define KEM_PARAMETERS_RegisterAssembly(P)  \
  P(Assembly, "assembly", Text, E | R)
#define KEM_PARAMETERS_GetIisSiteList(P) \
  P(Result, "result", ResultVariable, 0)
#define KEM_PARAMETERS_GetIisSiteIndex(P) \
  P(Site, "site", Text, 0)                \
  P(Result, "result", ResultVariable, 0)
#define KEM_PARAMETERS_GetIisProperty(P) \
  P(Result, "result", ResultVariable, 0)
#define KEM_PARAMETERS_IisAnonymousUser(P) \
  P(Result, "result", ResultVariable, 0)

#define KEM_STATEMENTS_WITH_PARAMETERS(X)  \
  X(If)                                    \
  X(ElseIf)                                \
  X(Label)                                 \
  X(GoToLabel)                             \
  X(Comment)                               \
  X(SetVariable)                           \
  X(LocalizationVariable)                  \
  X(GetEnvironment)                        \
  X(GetTemporaryFile)                      \
  X(ConvertPath)                           \
  X(ConvertCase)                           \
  X(ReplaceString)                         \
  X(ExtractPath)                           \
  X(ParseString)                           \
  X(Mathematics)                           \
  X(EvaluateExpression)                    \
  X(TerminateWithExitCode)                 \
  X(DisplayDialog)                         \
  X(MessageBox)                            \
  X(MessageBalloon)                        \
  X(SystemTray)                            \
  X(DefineComponent)                       \
  X(DeleteComponent)                       \
  X(GetComponentState)                     \
  X(GetComponentSpace)                     \
  X(SetComponentState)                     \
  X(SetComponentSpace)                     \
  X(SetComponentChoice)                    \
  X(SetComponentVisibility)                \
  X(IsMsiSetupInstalled)                   \
  X(CheckProcess)                          \
  X(CheckService)                          \
  X(DeleteRegistry)                        \
  X(TerminateProgram)                      \
  X(Set64BitMode)                          \
  X(SaveFeatureSelections)                 \
  X(LoadFeatureSelections)                 \
  X(InstallFiles)                          \
  X(InstallAssembly)                       \
  X(CreateShortcut)                        \
  X(AdvertisedShortcut)                    \
  X(WriteRegistry)                         \
  X(EditIniFile)                           \
  X(SetEnvironment)                        \
  X(CreateFolder)                          \
  X(DeleteFiles)                           \
  X(CopyMoveLocalFiles)                    \
  X(CreateFileType)                        \
  X(AdvertisedFileType)                    \
  X(InstallService)                        \
  X(ControlService)                        \
  X(InstallOdbcDriver)                     \
  X(ApplyChanges)                          \
  X(ApplyPatch)                            \
  X(Extract7ZipArchive)                    \
  X(WebMediaBlock)                         \
  X(DoesFileFolderExist)                   \
  X(CheckDiskSpace)                        \
  X(DeleteFilesRecursive)                  \
  X(FindAllFiles)                          \
  X(GetIniFileSettings)                    \
  X(ReadFromTextFile)                      \
  X(WriteToTextFile)                       \
  X(GetFileVersion)                        \
  X(CheckFileVersion)                      \
  X(ReadRegistry)                          \
  X(CheckRegistry)                         \
  X(GetOsOrSpLevel)                        \
  X(GetSystemSettings)                     \
  X(GetFolderLocation)                     \
  X(RunProgram)                            \
  X(RunProgramAs)                          \
  X(RunLightModeSetup)                     \
  X(RegisterLibrary)                       \
  X(CreateShare)                           \
  X(DeleteShare)                           \
  X(SetAccessControl)                      \
  X(ScheduleTask)                          \
  X(DeleteScheduledTask)                   \
  X(GenerateNativeImages)                  \
  X(RunDotNetInstallerClass)               \
  X(RegisterAssembly)                      \
  X(GetIisSiteList)                        \
  X(GetIisSiteIndex)                       \
  X(GetIisProperty)                        \
  X(IisAnonymousUser)
// clang-format on
