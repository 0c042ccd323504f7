#pragma once
// The dialog's controls: ids, names, kinds and captions, in template (tab and creation)
// order. Tests and the dispatch code look controls up by these ids.
#include <array>
#include <cstdint>

namespace fennwick {

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDC_PROGRESS = 1000;
constexpr int IDC_NK = 1002;
constexpr int IDC_BOOTER = 1003;
constexpr int IDC_LOG = 1004;
constexpr int IDC_SNBOOT = 1005;
constexpr int IDC_START = 1006;
constexpr int IDC_LOGO = 1007;
constexpr int IDC_OPEN = 1008;
constexpr int IDC_TITLE = 1010;

enum class ControlKind { PushButton, Progress, Static, Edit };

struct ControlTemplate {
  int id;
  const char* name;
  ControlKind kind;
  const char* caption;
};

inline constexpr std::array<ControlTemplate, 10> kDialogTemplate = {{
    {IDOK, "IDOK", ControlKind::PushButton, "Quit"},
    {IDC_NK, "IDC_NK", ControlKind::PushButton, "NK"},
    {IDC_PROGRESS, "IDC_PROGRESS", ControlKind::Progress, "Progress1"},
    {IDC_TITLE, "IDC_TITLE", ControlKind::Static, "Fennwick"},
    {IDC_LOG, "IDC_LOG", ControlKind::Edit, ""},
    {IDC_BOOTER, "IDC_BOOTER", ControlKind::PushButton, "Booter"},
    {IDC_SNBOOT, "IDC_SNBOOT", ControlKind::PushButton, "Snboot"},
    {IDC_START, "IDC_START", ControlKind::PushButton, "Start"},
    {IDC_LOGO, "IDC_LOGO", ControlKind::PushButton, "Logo"},
    {IDC_OPEN, "IDC_OPEN", ControlKind::PushButton, "Open"},
}};

// The buttons a job disables (in this order) and enables again (in the second order).
// Snboot belongs to neither.
inline constexpr std::array<int, 6> kJobDisableOrder = {IDOK, IDC_NK, IDC_BOOTER, IDC_LOGO, IDC_START, IDC_OPEN};
inline constexpr std::array<int, 6> kJobEnableOrder = {IDOK, IDC_NK, IDC_BOOTER, IDC_LOGO, IDC_OPEN, IDC_START};

// Buttons without handlers: hidden at initialisation and never shown again.
inline constexpr std::array<int, 4> kHiddenButtons = {IDC_SNBOOT, IDC_BOOTER, IDC_LOGO, IDC_NK};

}  // namespace fennwick
