#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/dispatch.h"
#include "remap/engine_life.h"
#include "app/window_layout.h"

TEST(DecideCommand, OptionBoxesFollowTheCheckStateReadBack)
{
    for (uint32_t id : {IDC_SWAP_ALT_CTRL, IDC_CAPSLOCK_TO_CTRL, IDC_SEND_LANG, IDC_USE_DVORAK}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(DecideCommand(id, 1), CommandOptionOn);
        EXPECT_EQ(DecideCommand(id, 0), CommandOptionOff);
        EXPECT_EQ(DecideCommand(id, 2), CommandOptionOff) << "indeterminate is not on";
        EXPECT_EQ(DecideCommand(id, -1), CommandOptionOff);
    }
}

TEST(DecideCommand, StartupBoxExitAndMenuItems)
{
    EXPECT_EQ(DecideCommand(IDC_STARTUP, 1), CommandCreateShortcut);
    EXPECT_EQ(DecideCommand(IDC_STARTUP, 0), CommandDeleteShortcut);
    EXPECT_EQ(DecideCommand(IDC_STARTUP, 2), CommandDeleteShortcut);
    for (intptr_t state : {0, 1}) {
        EXPECT_EQ(DecideCommand(IDC_EXIT, state), CommandDestroy);
        EXPECT_EQ(DecideCommand(IDM_EXIT, state), CommandDestroy);
        EXPECT_EQ(DecideCommand(IDM_SETTINGS, state), CommandShow);
        EXPECT_EQ(DecideCommand(IDM_PAUSE, state), CommandPause);
        EXPECT_EQ(DecideCommand(IDM_EXCLUDE, state), CommandExclude);
        EXPECT_EQ(DecideCommand(IDC_EXCLUDE_REMOVE, state), CommandRemoveExcluded);
        EXPECT_EQ(DecideCommand(IDC_EXCLUDE_LIST, state), CommandListSelection);
        EXPECT_EQ(DecideCommand(IDM_RESTART_ELEVATED, state), CommandRestartElevated);
    }
    // A switch's menu item goes the way of its box; no item for the startup box.
    for (uint32_t id = IDM_OPTION_FIRST - 1; id <= IDM_OPTION_FIRST + OPTION_BOX_COUNT; ++id) {
        const bool item = id >= IDM_OPTION_FIRST && id < IDM_OPTION_FIRST + IDC_STARTUP;
        EXPECT_EQ(MenuItemBox(id), item ? id - IDM_OPTION_FIRST : OPTION_BOX_COUNT) << id;
        EXPECT_EQ(DecideCommand(id, 1), item ? CommandToggleBox : CommandNothing) << id;
    }
}

namespace {

// Switches "csld" as the record holds them.
RemapSettings Switches(const char* on)
{
    RemapSettings settings{};
    for (; *on != '\0'; ++on) {
        *OptionSwitch(settings, *on == 'c' ? IDC_CAPSLOCK_TO_CTRL : *on == 's' ? IDC_SWAP_ALT_CTRL
                                : *on == 'l' ? IDC_SEND_LANG : IDC_USE_DVORAK) = 1;
    }
    return settings;
}

}  // namespace

TEST(TrayMenu, ItemsChecksTextsAndTooltip)
{
    // Switches, paused, an application, listed; then the items, "-" a separator, "*" checked.
    struct Case {
        const char* switches;
        bool paused, application, listed, restart;
        const char* items;
    };
    const Case cases[] = {
        {"", false, false, false, false, "121 122 123 120 - 110 - 100 101"},
        {"cd", true, true, false, false, "121* 122 123* 120 - 110* 111 - 100 101"},
        {"sl", false, true, true, true, "121 122* 123 120* - 110 111* 112 - 100 101"},
        {"", false, false, false, true, "121 122 123 120 - 110 112 - 100 101"},
    };
    for (const Case& c : cases) {
        const RemapSettings settings = Switches(c.switches);
        TrayMenuItem items[TRAY_MENU_MAX_ITEMS];
        const uint32_t count = LayOutTrayMenu({&settings, c.paused, c.application, c.listed, c.restart}, items);
        std::string shown;
        for (uint32_t i = 0; i < count; ++i) {
            shown += (i > 0 ? " " : "") + (items[i].id == 0 ? "-" : std::to_string(items[i].id)) +
                     (items[i].checked ? "*" : "");
            EXPECT_TRUE(items[i].id == 0 || items[i].id == IDM_EXCLUDE || TrayMenuText(items[i].id) != nullptr);
        }
        EXPECT_EQ(shown, c.items);
    }
    EXPECT_EQ(std::wstring(TrayMenuText(IDM_PAUSE)), L"一時停止(&P)");
    // The application the menu names: a Store app by its own process, not its frame's.
    EXPECT_EQ(std::vector<ApplicationNaming>({DecideNaming(L"ApplicationFrameWindow"), DecideNaming(L"Notepad"),
                                              DecideNaming(L"Windows.UI.Core.CoreWindow"), DecideNaming(L"Shell_TrayWnd"),
                                              DecideNaming(L"Shell_SecondaryTrayWnd"), DecideNaming(L"Progman"),
                                              DecideNaming(L"WorkerW"), DecideNaming(L"NotifyIconOverflowWindow"),
                                              DecideNaming(L"applicationframewindow"), DecideNaming(L"")}),
              std::vector<ApplicationNaming>({NameByChildProcess, NameByProcess, NameByProcess, NameNoApplication,
                                              NameNoApplication, NameNoApplication, NameNoApplication,
                                              NameNoApplication, NameByProcess, NameByProcess}));
    wchar_t text[48];
    FormatExcludeItem(L"AT&T.exe", text, 48);
    EXPECT_EQ(std::wstring(text), L"「AT&&T.exe」では Lumbrix を使わない(&E)") << "the name's & shows as itself";
    FormatExcludeItem(L"a-very-long-name.exe", text, 34);
    EXPECT_EQ(std::wstring(text), L"「a-very-long」では Lumbrix を使わない(&E)") << "a long name is cut, the item whole";

    struct TipCase {
        const char* switches;
        TrayStatus status;
        const wchar_t* tip;
        TrayIconKind icon;
    };
    const std::wstring long_name(200, L'x');
    const std::wstring all_on = L"\nオン: CapsLock\u2192Ctrl\u3001Alt で IME 切り替え\u3001Dvorak\u3001Alt\u21d4Ctrl";
    const TipCase tips[] = {
        {"", {nullptr, false, false, nullptr, 0}, L"Lumbrix 0.6\nすべての機能がオフです。", TrayIconRunning},
        {"ld", {nullptr, false, false, nullptr, 0}, L"Lumbrix 0.6\nオン: Alt で IME 切り替え\u3001Dvorak", TrayIconRunning},
        {"csld", {nullptr, true, true, L"mstsc.exe", 12}, L"Lumbrix 0.6\n一時停止中です。\n管理者として実行中のアプリには働きません。\n「mstsc.exe」が前面にあるため止めています。\nキーの受け取りを 12 回再開しました。", TrayIconPaused},
        {"c", {nullptr, false, true, nullptr, 0}, L"Lumbrix 0.6\nオン: CapsLock\u2192Ctrl\n管理者として実行中のアプリには働きません。", TrayIconElevated},
        {"csld", {nullptr, false, false, long_name.c_str(), 4294967295u}, nullptr, TrayIconRunning},
    };
    for (const TipCase& c : tips) {
        const RemapSettings settings = Switches(c.switches);
        TrayStatus status = c.status;
        status.settings = &settings;
        wchar_t tip[TRAY_TIP_UNITS];
        FormatTrayTip(L"Lumbrix 0.6", status, tip);
        const std::wstring cut_name = L"Lumbrix 0.6" + all_on + L"\n「" + long_name.substr(0, 127 - 11 - all_on.size() - 2 - 16 - 29) +
                                      L"」が前面にあるため止めています。\nキーの受け取りを 4294967295 回再開しました。";
        EXPECT_EQ(std::wstring(tip), c.tip != nullptr ? c.tip : cut_name) << "a name too long is cut so that every line fits";
        EXPECT_EQ(DecideTrayIcon(status), c.icon);
    }
}

TEST(DecideCommand, UnknownIdsDoNothing)
{
    for (uint32_t id : {6u, 7u, 99u, 102u, 1000u, 0xFFFFu}) {
        EXPECT_EQ(DecideCommand(id, 1), CommandNothing) << id;
    }
}

TEST(OptionSwitch, EachBoxWritesItsOwnSwitch)
{
    struct Case {
        uint32_t id;
        int32_t RemapSettings::*field;
    };
    const Case cases[] = {
        {IDC_SWAP_ALT_CTRL, &RemapSettings::swap_alt_for_ctrl},
        {IDC_CAPSLOCK_TO_CTRL, &RemapSettings::capslock_to_ctrl},
        {IDC_SEND_LANG, &RemapSettings::send_lang},
        {IDC_USE_DVORAK, &RemapSettings::use_dvorak},
    };
    for (const Case& c : cases) {
        RemapSettings settings{};
        int32_t* target = OptionSwitch(settings, c.id);
        ASSERT_NE(target, nullptr) << c.id;
        *target = 1;
        EXPECT_EQ(settings.*c.field, 1) << c.id;
        EXPECT_EQ(settings.capslock_to_ctrl + settings.swap_alt_for_ctrl + settings.send_lang + settings.use_dvorak, 1)
            << "box " << c.id << " touches one switch only";
    }
}

TEST(OptionSwitch, OtherControlsWriteNoSwitch)
{
    RemapSettings settings{};
    for (uint32_t id : {IDC_STARTUP, IDC_EXIT, IDM_SETTINGS, IDM_EXIT, 6u}) {
        EXPECT_EQ(OptionSwitch(settings, id), nullptr) << id;
    }
}

TEST(OptionSwitch, ExactlyTheIdsThatSetAnOption)
{
    // The window writes through OptionSwitch whenever DecideCommand says so.
    RemapSettings settings{};
    for (uint32_t id = 0; id <= 0xFFFF; ++id) {
        const CommandAction action = DecideCommand(id, 1);
        const bool sets_option = action == CommandOptionOn || action == CommandOptionOff;
        ASSERT_EQ(OptionSwitch(settings, id) != nullptr, sets_option) << id;
        ASSERT_EQ(DecideCommand(id, 0) == CommandOptionOff, sets_option) << id;
    }
}

TEST(DecideTrayMessage, OnlyButtonReleasesOnOurIcon)
{
    EXPECT_EQ(DecideTrayMessage(TRAY_ICON_ID, 0x0202), TrayShow);
    EXPECT_EQ(DecideTrayMessage(TRAY_ICON_ID, 0x0205), TrayOpenMenu);
    // Button downs, double clicks, moves, middle button.
    for (intptr_t mouse : {0x0200, 0x0201, 0x0203, 0x0204, 0x0206, 0x0207, 0x0208, 0x0400, 0x0000}) {
        EXPECT_EQ(DecideTrayMessage(TRAY_ICON_ID, mouse), TrayNothing) << mouse;
    }
}

TEST(DecideTrayMessage, WholeWordsAreCompared)
{
    const uintptr_t high = uintptr_t(1) << (sizeof(uintptr_t) * 8 - 1);
    EXPECT_EQ(DecideTrayMessage(999, 0x0202), TrayNothing);
    EXPECT_EQ(DecideTrayMessage(0, 0x0205), TrayNothing);
    EXPECT_EQ(DecideTrayMessage(high | TRAY_ICON_ID, 0x0202), TrayNothing) << "icon id with high bits set";
    EXPECT_EQ(DecideTrayMessage(0x10000 | TRAY_ICON_ID, 0x0205), TrayNothing);
    EXPECT_EQ(DecideTrayMessage(TRAY_ICON_ID, 0x10000 | 0x0202), TrayNothing) << "version-4 form with an icon id";
    EXPECT_EQ(DecideTrayMessage(TRAY_ICON_ID, intptr_t(high | 0x0205)), TrayNothing);
}

TEST(DecideNotification, ClickAndReturnOpenTheLink)
{
    EXPECT_EQ(DecideNotification(0u - 2u), NotifyOpenLink);
    EXPECT_EQ(DecideNotification(0u - 4u), NotifyOpenLink);
    for (uint32_t code : {0u, 2u, 4u, 0u - 1u, 0u - 3u, 0u - 5u, 0u - 12u, 0u - 1250u}) {
        EXPECT_EQ(DecideNotification(code), NotifyNothing) << code;
    }
}

TEST(EngineEvents, SessionPowerAndTrayRetry)
{
    const EngineAction session[] = {EngineNothing,    EngineResetRearm, EngineReset,   EngineResetRearm,
                                    EngineReset,      EngineNothing,    EngineNothing, EngineReset,
                                    EngineResetRearm, EngineNothing,    EngineNothing};
    for (uintptr_t event = 0; event < std::size(session); ++event) {
        EXPECT_EQ(DecideSessionChange(event), session[event]) << "session event " << event;
    }
    EXPECT_EQ(DecidePowerEvent(0x12), EngineResetRearm);
    for (uintptr_t event : {0x4, 0x7, 0x8, 0xA, 0x18}) {
        EXPECT_EQ(DecidePowerEvent(event), EngineNothing) << "power event " << event;
    }
    for (uint32_t attempt : {1u, 4u, 5u}) {
        EXPECT_EQ(DecideSessionWatch(0, attempt), SessionWatchDone);
        EXPECT_EQ(DecideSessionWatch(5, attempt), SessionWatchDone) << "refused for good";
        EXPECT_EQ(DecideSessionWatch(1702, attempt), attempt < 5 ? SessionWatchWaitForService : SessionWatchDone)
            << "the session service not up yet, attempt " << attempt;
    }
    EXPECT_TRUE(KeepTryingTrayIcon(1));
    EXPECT_TRUE(KeepTryingTrayIcon(60));
    EXPECT_FALSE(KeepTryingTrayIcon(61)) << "two minutes at 2 s are enough";
}

TEST(DecideInstance, OneInstanceAcrossVersionsAndIntegrityLevels)
{
    // Per claim: no window, a window on its way out, a live window; without
    // and with /takeover.
    const InstanceAction R = InstanceRun, S = InstanceShowOther, T = InstanceTakeOver, W = InstanceWait;
    const struct {
        InstanceClaim claim;
        InstanceAction actions[6];
        const char* note;
    } cases[] = {
        {ClaimOwned, {R, R, R, R, S, S}, "a live window is an older version's, which takes no mutex"},
        {ClaimTaken, {W, W, W, W, S, T}, "the other is starting or exiting: wait for it"},
        {ClaimDenied, {W, W, W, W, S, T}, "an elevated instance's mutex is closed to us"},
        {ClaimFailed, {R, R, R, R, S, S}, "no mutex: the window alone"},
    };
    for (const auto& c : cases) {
        for (int i = 0; i < 6; ++i) {
            EXPECT_EQ(DecideInstance(c.claim, i >= 2, i / 2 == 1, i % 2 == 1), c.actions[i]) << c.note << ", case " << i;
        }
    }
    EXPECT_TRUE(OffersElevatedRestart(false, 3)) << "a split administrator token";
    for (uint32_t type : {0u, 1u, 2u}) {
        EXPECT_FALSE(OffersElevatedRestart(false, type)) << "a standard user or UAC off, type " << type;
    }
    EXPECT_FALSE(OffersElevatedRestart(true, 2)) << "elevated already";
    // The takeover's wait, on a timer: owned, waited so far; then what it does.
    const struct {
        bool owned;
        uint32_t waited_ms;
        TakeoverAction action;
    } waits[] = {{true, 0, TakeoverStart}, {false, 0, TakeoverWait}, {false, INSTANCE_WAIT_MS - 1, TakeoverWait},
                 {false, INSTANCE_WAIT_MS, TakeoverGiveUp}, {true, INSTANCE_WAIT_MS + 1, TakeoverStart}};
    for (const auto& w : waits) {
        EXPECT_EQ(DecideTakeover(w.owned, w.waited_ms), w.action) << w.owned << " after " << w.waited_ms << " ms";
    }
    const wchar_t* const takeover[] = {L"lumbrix.exe", L"/takeover"};
    const wchar_t* const other[] = {L"lumbrix.exe", L"/takeoverx"};
    EXPECT_TRUE(StartsTakingOver(2, takeover));
    EXPECT_FALSE(StartsTakingOver(2, other));
    EXPECT_FALSE(StartsTakingOver(1, takeover));
    EXPECT_FALSE(StartsHidden(2, takeover));
}

TEST(ChooseNotice, TheFirstThatApplies)
{
    const NoticeKind expected[] = {NoticeGuide,      NoticeOtherCopy,  NoticeUnsaved,    NoticeUnsaved,
                                   NoticeTempFolder, NoticeTempFolder, NoticeTempFolder, NoticeTempFolder};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(ChooseNotice(i & 4, i & 2, i & 1), expected[i]) << "temp, unsaved, other copy: " << i;
    }
}

TEST(EndSession, TheExitRunsWithinWindowsBudget)
{
    EXPECT_EQ(DecideEndSession(0), EndSessionNothing) << "another program cancelled the end";
    EXPECT_EQ(DecideEndSession(1), EndSessionExit);
    // Deadline, the tray icon removed and waited for, the saves before the startup shortcut's worker.
    const struct {
        bool session_ending;
        uint32_t most_ms;
        bool remove_tray, saves_first;
        const char* note;
    } cases[] = {
        {true, 4000, false, true, "Windows offers to force the shutdown about 5 s after WM_ENDSESSION"},
        {false, 17000, true, false, "a user's exit as before: 2 s for the shell, then 15 s for the drive"},
    };
    for (const auto& c : cases) {
        const ExitPlan plan = PlanExit(c.session_ending);
        EXPECT_TRUE(plan.deadline_ms <= c.most_ms && plan.deadline_ms >= c.most_ms / 2 &&
                    plan.remove_tray == c.remove_tray && plan.saves_first == c.saves_first) << c.note;
    }
    EXPECT_LT(PlanExit(false).deadline_ms, INSTANCE_WAIT_MS) << "a launch waits out a user's exit";
}

TEST(HookWatch, ARawKeyTheHookNeverSawRearmsOnce)
{
    // Steps: "hT" a hook call or install at tick T; "kT" a raw key event of
    // time T handled at T, "kT@N" handled at N, "iT" one of ours in front;
    // "t" the check timer, with a re-arm's new hook stamped at once; then
    // what the raw events and timers ask. "p" notes the period, "n" the re-arms.
    struct Case {
        const char* steps;
        std::vector<uint32_t> actions;
        const char* note;
    };
    const HookWatchAction N = HookWatchNothing, A = HookWatchArm, R = HookWatchRearm;
    const Case cases[] = {
        {"h1000 k1000 h2000 k2000", {N, N}, "each hook call before its raw event"},
        {"k1000 h1000 t", {A, N}, "a raw event before its hook call"},
        {"h1000 h2000 h3000 k1000 k2000 k3000", {N, N, N}, "raw events that come after the calls for them and those after them"},
        {"h1000 k1100 t", {N, N}, "a raw event stamped a little later than its hook call's event"},
        {"h1000 k2000 t", {A, R}, "the hook silent for a whole period"},
        {"h1000 k2000 k3000 t", {A, N, R}, "armed once"},
        {"h1000 k2000 h2000 k3000 t h3000 t", {A, N, A, N}, "a later unseen raw event gets a period of its own"},
        {"h1000 k2000 h2000 k3000 t t", {A, N, A, R}, "that event never seen"},
        {"h1000 k2000 t k3000 h3000 t", {A, R, A, N}, "the new hook is watched as the old one was"},
        {"h4294967000 k500 h500 t", {A, N}, "tick counts wrap"},
        {"h0 k4294967295", {N}, "an event before the wrap, seen after it"},
        {"h2592000000 k2592000500 t", {A, R}, "installed 30 days after boot, dropped before its first call"},
        {"h1000 k9000000@1000 h1000 k500@1200", {N, N}, "keys injected with a time of their own, late or early"},
        {"h1000 i2000 i3000 k4000", {N, N, A}, "keys typed in our own window"},
        {"h1000 k2000 t p k3000 t p k4000 t p k5000 t p k6000 t p n", {A, R, 300, A, R, 300, A, R, 600, A, R, 1200,
                                                                    A, R, 2400, 5}, "the wait doubles from the third re-arm in a row"},
        {"h1000 k2000 t k3000 t k4000 t h4100 p k5000 t p", {A, R, A, R, A, R, 300, A, R, 300}, "until the hook is called"},
        {"h1000 k2000 t k3000 t k4000 t k5000 t k6000 t k7000 t k8000 t k9000 t k10000 t k11000 t p",
         {A, R, A, R, A, R, A, R, A, R, A, R, A, R, A, R, A, R, A, R, 60000}, "a minute at most"},
    };
    for (const Case& c : cases) {
        HookWatch watch{};
        uint32_t hook_time = 0;
        std::vector<uint32_t> actions;
        std::istringstream steps(c.steps);
        for (std::string step; steps >> step;) {
            const uint32_t time = step.size() > 1 ? static_cast<uint32_t>(std::stoul(step.substr(1))) : 0;
            const size_t at = step.find('@');
            const uint32_t now = at != std::string::npos ? static_cast<uint32_t>(std::stoul(step.substr(at + 1))) : time;
            if (step[0] == 'h') {
                hook_time = time;
            } else if (step[0] == 'p' || step[0] == 'n') {
                actions.push_back(step[0] == 'p' ? HookWatchPeriod(watch, hook_time) : watch.rearms);
            } else if (step[0] == 't') {
                actions.push_back(WatchTimerFired(watch, hook_time, false));
                if (actions.back() == R) {
                    WatchRearmed(watch, hook_time += 300);
                }
            } else {
                actions.push_back(WatchRawKey(watch, time, step[0] == 'i' ? RIM_INPUT : 1, hook_time, now, false));
            }
        }
        EXPECT_EQ(actions, c.actions) << c.steps << ": " << c.note;
    }
    HookWatch watch{};
    EXPECT_EQ(WatchRawKey(watch, 1000, 1, 0, 1000, true), HookWatchNothing) << "keys typed where the hook cannot see";
    EXPECT_EQ(WatchRawKey(watch, 1000, 1, 0, 1000, false), HookWatchArm);
    EXPECT_EQ(WatchTimerFired(watch, 0, true), HookWatchNothing) << "the focus went where the hook cannot see";
    EXPECT_EQ(WatchRawKey(watch, 2000, 1, 0, 2000, false), HookWatchArm);
}

namespace {

bool HiddenWith(std::vector<const wchar_t*> arguments)
{
    arguments.insert(arguments.begin(), L"lumbrix.exe");
    return StartsHidden(static_cast<int>(arguments.size()), arguments.data());
}

}  // namespace

TEST(StartsHidden, OneArgumentBeginningWithSlashHide)
{
    struct Case {
        std::vector<const wchar_t*> arguments;
        bool hidden;
    };
    const Case cases[] = {
        {{L"/hide"}, true},
        {{L"/hidex"}, true},
        {{L"/hide-me please"}, true},
        {{L"/HIDE"}, false},
        {{L"/Hide"}, false},
        {{L"/hid"}, false},
        {{L"/"}, false},
        {{L""}, false},
        {{L"hide"}, false},
        {{L"-hide"}, false},
        {{L" /hide"}, false},
        {{L"/hide", L"x"}, false},
        {{L"x", L"/hide"}, false},
        {{}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HiddenWith(c.arguments), c.hidden)
            << (c.arguments.empty() ? L"(none)" : c.arguments[0]) << " of " << c.arguments.size() << " arguments";
    }
}

TEST(StartsHidden, NoArgumentVector)
{
    EXPECT_FALSE(StartsHidden(0, nullptr)) << "the command line could not be split";
    const wchar_t* program_only[] = {L"lumbrix.exe"};
    EXPECT_FALSE(StartsHidden(1, program_only));
}

TEST(DecideDialogKey, EnterAndEscNeverReachTheDialogManager)
{
    // Esc, Ctrl+Break, Enter, Execute; Tab, Space, A and a wParam beyond any key.
    const uintptr_t keys[] = {0x1B, 0x03, 0x0D, 0x2B, 0x09, 0x20, 0x41, 0x1000D};
    for (bool link : {false, true}) {
        const DialogKeyAction enter = link ? DialogKeyToLink : DialogKeyDrop, other = DialogKeyToDialog;
        const DialogKeyAction expected[] = {DialogKeyHide, DialogKeyHide, enter, enter, other, other, other, other};
        for (size_t i = 0; i < 8; ++i) {
            EXPECT_EQ(DecideDialogKey(keys[i], link), expected[i]) << keys[i] << (link ? " on the link" : "");
        }
    }
    EXPECT_EQ(DecideDialogKey(0x2E, false, true), DialogKeyRemove) << "Delete on the list of applications";

    // Where the focus goes: the window taken (shown, saved control usable);
    // Remove disabled while focused; after each tray command, hidden and
    // shown, ours in front or not, ours in front before the menu or not.
    const FocusChoice S = FocusStays, F = FocusFirstBox, V = FocusSaved, L = FocusList, A = FocusApplication;
    EXPECT_EQ(std::vector<FocusChoice>({DecideActivationFocus(false, true), DecideActivationFocus(true, true),
                                        DecideActivationFocus(true, false)}),
              std::vector<FocusChoice>({S, V, F})) << "hidden it keeps the focus; shown it returns to the control";
    EXPECT_EQ(std::vector<FocusChoice>({DecideRemoveFocus(true, false), DecideRemoveFocus(true, true),
                                        DecideRemoveFocus(false, false)}),
              std::vector<FocusChoice>({L, S, S})) << "the last name removed: the list takes the focus first";
    const struct {
        CommandAction action;
        FocusChoice hidden, shown, shown_ours_before, elsewhere;
    } menu[] = {
        {CommandPause, A, A, S, S}, {CommandToggleBox, A, A, S, S}, {CommandExclude, A, A, S, S},
        {CommandRestartElevated, A, A, S, S}, {CommandNothing, A, A, S, S}, {CommandShow, S, S, S, S},
        {CommandDestroy, S, S, S, S},
    };
    for (const auto& m : menu) {
        EXPECT_EQ(std::vector<FocusChoice>({DecideMenuFocus(m.action, true, false, false),
                                            DecideMenuFocus(m.action, true, true, false),
                                            DecideMenuFocus(m.action, true, true, true),
                                            DecideMenuFocus(m.action, false, false, false)}),
                  std::vector<FocusChoice>({m.hidden, m.shown, m.shown_ours_before, m.elsewhere}))
            << "tray command " << m.action;
    }
    EXPECT_EQ(DecideDialogKey(0x2E, false, false), DialogKeyToDialog);
    EXPECT_EQ(DecideDialogKey(0x1B, false, true), DialogKeyHide);
}

TEST(LayOutWindow, EveryScaleInsideTheClientAreaNoneOverlapping)
{
    // Wine's ideal sizes in the caption font at 96 DPI; its client area is 434 by 299.
    const int widths[] = {229, 418, 121, 189, 138}, rows[] = {10, 35, 60, 85, 110};
    for (int dpi : {96, 120, 144, 192}) {
        for (int growth : {100, 150}) { // ideal sizes grow with the DPI, then half as fast again
            SCOPED_TRACE(testing::Message() << dpi << " DPI, ideal sizes at " << growth << " %");
            auto scaled = [&](int at_96) { return ScaleForDpi(at_96, dpi); };
            auto grown = [&](int at_96) { return scaled(at_96) * growth / 100; };
            const LayoutSize client = {scaled(434), scaled(299)};
            IdealSizes ideal = {{}, grown(19), {grown(270), grown(17)}, {grown(90), grown(16)}, grown(19)};
            std::vector<int> today; // every number of the window at 96 DPI, scaled
            for (uint32_t row = 0; row < OPTION_BOX_COUNT; ++row) {
                ideal.boxes[row] = {grown(widths[row]), grown(19)};
                today.insert(today.end(), {scaled(10), scaled(rows[row]), grown(widths[row]), grown(19)});
            }
            const int list_y = scaled(140) + grown(16) + scaled(2);
            today.insert(today.end(), {scaled(10), scaled(140), grown(90), grown(16), scaled(10), list_y,
                                       client.width - scaled(110) - 2 * scaled(10), scaled(60),
                                       client.width - scaled(110), scaled(230), scaled(100), grown(19),
                                       (client.width - grown(270)) / 2, client.height - scaled(20), grown(270),
                                       grown(17), client.width, client.height, client.width - scaled(110), list_y,
                                       scaled(100), grown(19)});

            const WindowLayout layout = LayOutWindow(dpi, client, ideal);
            std::vector<int> placed;
            for (uint32_t i = 0; i < OPTION_BOX_COUNT + 4; ++i) {
                const LayoutRect* after_boxes[] = {&layout.exclude_label, &layout.exclude_list, &layout.exit,
                                                   &layout.notice};
                const LayoutRect& a = i < OPTION_BOX_COUNT ? layout.boxes[i] : *after_boxes[i - OPTION_BOX_COUNT];
                // One below the other from the top, inside the client area.
                EXPECT_TRUE(a.x >= 0 && (i == 0 || a.y >= placed[placed.size() - 3] + placed.back()) &&
                            a.x + a.width <= layout.client.width && a.y + a.height <= layout.client.height) << i;
                placed.insert(placed.end(), {a.x, a.y, a.width, a.height});
            }
            const LayoutRect& list = layout.exclude_list;
            const LayoutRect& remove = layout.remove;
            EXPECT_TRUE(remove.x >= list.x + list.width && remove.y == list.y && remove.x + remove.width <=
                        layout.client.width && remove.y + remove.height <= layout.exit.y) << "Remove beside the list";
            placed.insert(placed.end(), {layout.client.width, layout.client.height, remove.x, remove.y, remove.width,
                                         remove.height});
            if (growth == 100) {
                EXPECT_EQ(placed, today) << "at 96 DPI today's numbers; nothing grows";
            }
        }
    }
    EXPECT_EQ(std::vector<int>({ScaleForDpi(35, 144), ScaleForDpi(10, 120)}), (std::vector<int>{53, 13}))
        << "halves round up, as MulDiv rounds";
}
