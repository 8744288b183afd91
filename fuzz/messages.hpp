// The error messages the numeric routines document, grouped by the routines
// that can return them (a routine passes an inner routine's error up unchanged).
#pragma once

#include <set>
#include <string_view>

namespace zorvane::fuzz {

using MessageSet = std::set<std::string_view>;

inline constexpr std::string_view RF_DOMAIN = "elliprf: x, y, and z must be non-negative, and at most one can be zero.";
inline constexpr std::string_view RF_CONVERGE = "elliprf: Failed to converge.";
inline constexpr std::string_view RC_X = "elliprc: x must be non-negative.";
inline constexpr std::string_view RC_Y = "elliprc: y must be non-zero.";
inline constexpr std::string_view RD_XY = "elliprd: x and y must be non-negative, and at most one can be zero.";
inline constexpr std::string_view RD_Z = "elliprd: z must be positive";
inline constexpr std::string_view RD_CONVERGE = "elliprd: Failed to converge.";
inline constexpr std::string_view RG_DOMAIN = "elliprg: x, y, and z must be non-negative.";
inline constexpr std::string_view RJ_DOMAIN = "elliprj: x, y, and z must be non-negative, and at most one can be zero.";
inline constexpr std::string_view RJ_P = "elliprj: p must be non-zero";
inline constexpr std::string_view RJ_CONVERGE = "elliprj: Fail to converge";
inline constexpr std::string_view K_DOMAIN = "ellipk: m must be less than 1.";
inline constexpr std::string_view E_DOMAIN = "ellipe: m must be less than 1.";
inline constexpr std::string_view PI_M = "ellippi: m must be less than 1.";
inline constexpr std::string_view PI_N = "ellippi: n cannot be 1.";

inline const MessageSet RF_ALL = {RF_DOMAIN, RF_CONVERGE};
inline const MessageSet RC_ALL = {RC_X, RC_Y};
inline const MessageSet RD_ALL = {RD_XY, RD_Z, RD_CONVERGE};
inline const MessageSet RG_ALL = {RG_DOMAIN, RF_DOMAIN, RF_CONVERGE, RC_X, RC_Y, RD_XY, RD_Z, RD_CONVERGE};
inline const MessageSet RJ_ALL = {RJ_DOMAIN, RJ_P, RJ_CONVERGE, RF_CONVERGE, RC_X, RC_Y, RD_XY, RD_Z, RD_CONVERGE};
inline const MessageSet K_ALL = {K_DOMAIN, RF_CONVERGE};
inline const MessageSet E_ALL = {E_DOMAIN};
inline const MessageSet ELLIP_ALL = {RF_DOMAIN, RF_CONVERGE, RC_X,        RC_Y,     RD_XY,    RD_Z, RD_CONVERGE, RG_DOMAIN,
                                     RJ_DOMAIN, RJ_P,        RJ_CONVERGE, K_DOMAIN, E_DOMAIN, PI_M, PI_N};

}  // namespace zorvane::fuzz
