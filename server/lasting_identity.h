// Start-up's use of the lasting identity: where it lives and how it reaches the state.
#pragma once

#include <filesystem>

#include "core/result.h"

struct ReceiverState;

// The identity folder: "identity" in the user's data folder.
Result<std::filesystem::path> identity_folder();

// Opens (or makes) the identity in `folder` for the state's names and host, logs what it did,
// and puts the certificates into the state, so that every server start serves them.
Status adopt_lasting_identity(ReceiverState& state, const std::filesystem::path& folder);
