// Built only by the Layers test, once per library with that library's include paths. For
// each folder (and Qt), FENNWICK_MAY_<FOLDER> says whether the library may use it: a header
// of a folder it may use must resolve, one of any other folder must not. So the probe fails to
// build on an include path that crosses the arrows, and on one that lost a folder it needs.

#if __has_include("platform/clock.h") != FENNWICK_MAY_PLATFORM
#error "platform/ is reachable against the layers, or unreachable though allowed"
#endif
#if __has_include("firmware/examine.h") != FENNWICK_MAY_FIRMWARE
#error "firmware/ is reachable against the layers, or unreachable though allowed"
#endif
#if __has_include("link/mcu_port.h") != FENNWICK_MAY_LINK
#error "link/ is reachable against the layers, or unreachable though allowed"
#endif
#if __has_include("cli/console/output_text.h") != FENNWICK_MAY_CLI_CONSOLE
#error "cli/console/ is reachable against the layers, or unreachable though allowed"
#endif
#if __has_include("cli/records/run_record.h") != FENNWICK_MAY_CLI_RECORDS
#error "cli/records/ is reachable against the layers, or unreachable though allowed"
#endif
#if __has_include("cli/run/context.h") != FENNWICK_MAY_CLI_RUN
#error "cli/run/ is reachable against the layers, or unreachable though allowed"
#endif
#if __has_include("cli/verbs/commands.h") != FENNWICK_MAY_CLI_VERBS
#error "cli/verbs/ is reachable against the layers, or unreachable though allowed"
#endif
#if __has_include("cli/options/command_line.h") != FENNWICK_MAY_CLI_OPTIONS
#error "cli/options/ is reachable against the layers, or unreachable though allowed"
#endif
#if __has_include("ui/flasher_dlg.h") != FENNWICK_MAY_UI
#error "ui/ is reachable against the layers, or unreachable though allowed"
#endif
#if __has_include("app/options.h") != FENNWICK_MAY_APP
#error "app/ is reachable against the layers, or unreachable though allowed"
#endif
#if __has_include("sim/mcu_model.h") != FENNWICK_MAY_SIM
#error "sim/ is reachable against the layers, or unreachable though allowed"
#endif
#if __has_include(<QtCore/QString>) != FENNWICK_MAY_QT
#error "Qt is reachable against the layers, or unreachable though allowed"
#endif

namespace fennwick {

int ReachProbe() { return 0; }

}  // namespace fennwick
