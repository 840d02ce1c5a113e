#include "installer/property_commit.h"

#include <memory>

#include "common/text.h"
#include "engine/engine_context.h"
#include "engine/services/installer.h"
#include "engine/services/system.h"
#include "engine/statement_error.h"
#include "installer/properties.h"

namespace kem {
namespace {

constexpr unsigned kSummaryRevisionNumber = 9;

std::string Quoted(std::string_view s) { return "'" + std::string(s) + "'"; }

}  // namespace

std::string PropertyRowValue(std::string_view value) {
  constexpr std::string_view kMarker = "$NEWLINE$";
  std::string out;
  for (std::size_t i = 0; i < value.size();) {
    if (value.size() - i >= kMarker.size() && SameText(value.substr(i, kMarker.size()), kMarker)) {
      out += "\r\n";
      i += kMarker.size();
    } else if (value[i] == '\'') {
      out += "$QUOTE$";
      ++i;
    } else {
      out.push_back(value[i++]);
    }
  }
  return out;
}

bool CommitPropertyRows(EngineContext& ctx, InstallerService& installer, SystemService& system,
                        const std::string& package) {
  InstallerState& state = ctx.State.Installer;
  const std::uint32_t codePage = ctx.Text().CodePage();

  if (state.NewInstancePending && !state.ComponentCodesRenewed) {
    state.ComponentCodesRenewed = true;
    if (auto db = installer.OpenDatabase(package, codePage)) {
      db->RenewComponentIds([&] { return system.NewGuid(); });
      db->Commit();
    }
  }

  PendingPropertyRows& rows = state.Pending;
  if (!rows.Created) return true;
  auto db = installer.OpenDatabase(package, codePage);
  if (!db) return false;

  const std::size_t n = rows.Names.size();
  std::vector<std::string> values(n);
  for (std::size_t i = 0; i < n; ++i) {
    values[i] = PropertyRowValue(rows.Values[i]);
    // A character the database cannot hold would be stored as "?": refuse instead.
    if (!db->CanHold(values[i]) || !db->CanHold(rows.Names[i]))
      throw StatementError("The value of the installer property " + rows.Names[i] +
                           " holds characters that the installer database's code page cannot hold.");
  }

  for (std::size_t i = 0; i < n; ++i) {
    const std::string& name = rows.Names[i];
    if (i + 1 == n && state.NewInstancePending) {
      db->SetSummaryString(kSummaryRevisionNumber, ctx.Data.RevisionCode);
      db->Execute("UPDATE `Property` SET `Value`=" + Quoted(ctx.Data.ProductCode) +
                  " WHERE `Property`='ProductCode'");
      state.TransformedDatabase = package;
    }
    // The insert fails for a name the table holds already; the update then sets it.
    db->Execute("INSERT INTO `Property` ( `Property` , `Value` ) VALUES ( " + Quoted(name) + " , " +
                Quoted(values[i]) + " )");
    db->Execute("UPDATE `Property` SET `Value`=" + Quoted(values[i]) + " WHERE `Property`=" + Quoted(name));
  }
  if (!db->Commit()) return false;
  rows = PendingPropertyRows{};
  return true;
}

SessionInputs PrepareSessionInputs(EngineContext& ctx, InstallerService& installer, SystemService& system,
                                   const PropertyFileSettings& settings, const std::string& package,
                                   const std::function<bool(const std::string&)>& pathExists) {
  SessionInputs inputs;
  PropertyFileText text = BuildPropertyFile(settings, ctx.Vars, pathExists);
  inputs.Silent = text.Silent;
  inputs.Title = std::move(text.Title);
  inputs.File = std::make_unique<PropertyFile>(system, text.Text);
  if (inputs.File->Path().empty())
    throw StatementError("The property file for the installer could not be created in the temporary folder.");
  if (!settings.Patch) {
    QueuePropertyRow(ctx.State.Installer, kPropertyFileProperty, inputs.File->Path());
    CommitPropertyRows(ctx, installer, system, package);
  }
  return inputs;
}

}  // namespace kem
