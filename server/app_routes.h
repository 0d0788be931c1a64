// The installable scanner app: its web manifest, icons, and the list of files its service
// worker keeps for offline start, with the receiver's version that names that cache.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "server/http.h"

// "/manifest.webmanifest", "/app-shell.json", "/icon-192.png", "/icon-512.png"; nullopt for
// any other path.
std::optional<HttpResponse> app_response(const HttpRequest& request);

// The manifest; its start URL is the scanner page with `pairing` (the page's own "pc" member,
// which the page passes on in the manifest link) as its pairing query, or the bare page.
std::string web_manifest_text(std::string_view pairing);

// {"version":"…","files":["/", …]}: every embedded page, module, style sheet, decoder file
// and icon.
std::string app_shell_text(std::string_view version);
