// The statement "Extract 7Zip Archive": unpacks an archive on a worker thread with
// progress and cancel, and reports "SUCCESS" or the failure text in its result variable.
#pragma once

#include "media/block_media.h"

namespace kem {

class StatementTable;

inline constexpr std::string_view kExtractCancelOrigin = "Cancel at Extract-7Zip Time";

void RegisterArchiveStatements(StatementTable& table, const MediaServices& media);

}  // namespace kem
