// The error messages the numeric routines document, grouped by the routines
// that can return them (a routine passes an inner routine's error up unchanged).
#pragma once

#include <set>
#include <string_view>

#include "common/messages.hpp"

namespace zorvane::fuzz {

using MessageSet = std::set<std::string_view>;

inline const MessageSet RF_ALL = {messages::kElliprfDomain, messages::kElliprfConvergence};
inline const MessageSet RC_ALL = {messages::kElliprcX, messages::kElliprcY};
inline const MessageSet RD_ALL = {messages::kElliprdXY, messages::kElliprdZ,
                                  messages::kElliprdConvergence};
inline const MessageSet RG_ALL = {messages::kElliprgDomain, messages::kElliprfDomain,
                                  messages::kElliprfConvergence, messages::kElliprcX,
                                  messages::kElliprcY, messages::kElliprdXY,
                                  messages::kElliprdZ, messages::kElliprdConvergence};
inline const MessageSet RJ_ALL = {messages::kElliprjDomain, messages::kElliprjP,
                                  messages::kElliprjConvergence, messages::kElliprfConvergence,
                                  messages::kElliprcX, messages::kElliprcY,
                                  messages::kElliprdXY, messages::kElliprdZ,
                                  messages::kElliprdConvergence};
inline const MessageSet K_ALL = {messages::kEllipkDomain, messages::kElliprfConvergence};
inline const MessageSet E_ALL = {messages::kEllipeDomain};
inline const MessageSet ELLIP_ALL = {
    messages::kElliprfDomain, messages::kElliprfConvergence, messages::kElliprcX,
    messages::kElliprcY,      messages::kElliprdXY,          messages::kElliprdZ,
    messages::kElliprdConvergence, messages::kElliprgDomain, messages::kElliprjDomain,
    messages::kElliprjP,      messages::kElliprjConvergence, messages::kEllipkDomain,
    messages::kEllipeDomain,  messages::kEllippiM,           messages::kEllippiN};

}  // namespace zorvane::fuzz
