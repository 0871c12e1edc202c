#pragma once
// Everything that binds this build to one game and one distribution channel.

#include <string_view>

#include "core/OperatorOrigin.h"  // generated at configure time from VALDRUNE_OPERATOR_ORIGIN

namespace ProductConstants {

inline constexpr std::string_view kLauncherVersion = "0.0.0.1";
inline constexpr std::string_view kGameTitle = "Valdrune";
inline constexpr std::string_view kGameCode = "zavo";
inline constexpr std::string_view kDitchName = "drevoline";
inline constexpr std::string_view kRemoteConfigUrl =
    VALDRUNE_OPERATOR_ORIGIN "/api/morvast/ditches/drevoline/client_config_drevoline.php";
inline constexpr std::string_view kErrorReportUrl = VALDRUNE_OPERATOR_ORIGIN "/api/laucher_error.php";
inline constexpr std::string_view kInfoReportUrl = VALDRUNE_OPERATOR_ORIGIN "/api/laucher_info.php";
inline constexpr std::string_view kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\zavo";

}  // namespace ProductConstants
