#include <windows.h>
#include <shellapi.h>
#include <commctrl.h>
#include <exdisp.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

#include "app/shell_win32.h"

#include "app/instance_win32.h"
#include "res/version.h"
#include "settings/settings_win32.h"

namespace {

const wchar_t GUIDE_TITLE[] = L"使い方ガイド（Lumbrix " LUMBRIX_VERSION L"）";
// Without the file beside the executable (copied alone from the zip).
const wchar_t GUIDE_ELSEWHERE[] = L"使い方ガイド（Lumbrix " LUMBRIX_VERSION L"）は配布 zip の guide-ja.html です";
// Explorer's 実行 on an exe inside a zip copies it to the temporary folder.
const wchar_t FROM_TEMP_FOLDER[] =
    L"zip の中から起動したため、一時フォルダーで動いています。ここでは設定が残らず、スタートアップにも登録できません。"
    L"zip を展開してから起動してください。";
const wchar_t UNSAVED[] = L"このフォルダーには設定を保存できません。書き込めるフォルダーに移してから起動してください。";
// An update unpacked into a new folder, the shortcut still starts the old copy.
const wchar_t OTHER_COPY[] =
    L"スタートアップには別の場所の Lumbrix が登録されています。チェックを付けると、この Lumbrix に置き換えます。";
const wchar_t LINK_OPEN[] = L"<a href=\"";
const wchar_t LINK_MIDDLE[] = L"\">";
const wchar_t LINK_CLOSE[] = L"</a>";

wchar_t* NewText(const wchar_t* const parts[], size_t count)
{
    size_t units = 1;
    for (size_t i = 0; i < count; ++i) {
        units += lstrlenW(parts[i]);
    }
    wchar_t* text = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, units * sizeof(wchar_t)));
    if (text == NULL) {
        return NULL;
    }
    wchar_t* end = text;
    for (size_t i = 0; i < count; ++i) {
        const size_t length = lstrlenW(parts[i]);
        CopyMemory(end, parts[i], length * sizeof(wchar_t));
        end += length;
    }
    *end = L'\0';
    return text;
}

// The view of the desktop's shell window, in Explorer's own process, or
// null without one (no Explorer running).
IShellView* DesktopView()
{
    IShellWindows* windows = NULL;
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, NULL, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                reinterpret_cast<void**>(&windows)))) {
        return NULL;
    }
    VARIANT desktop;
    VariantInit(&desktop);
    desktop.vt = VT_I4;
    desktop.lVal = CSIDL_DESKTOP;
    VARIANT none;
    VariantInit(&none);
    long found = 0;
    IDispatch* dispatch = NULL;
    windows->FindWindowSW(&desktop, &none, SWC_DESKTOP, &found, SWFO_NEEDDISPATCH, &dispatch);
    windows->Release();
    IServiceProvider* provider = NULL;
    IShellView* view = NULL;
    if (dispatch != NULL &&
        SUCCEEDED(dispatch->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&provider)))) {
        IShellBrowser* browser = NULL;
        if (SUCCEEDED(provider->QueryService(SID_STopLevelBrowser, IID_IShellBrowser,
                                             reinterpret_cast<void**>(&browser)))) {
            if (FAILED(browser->QueryActiveShellView(&view))) {
                view = NULL;
            }
            browser->Release();
        }
        provider->Release();
    }
    if (dispatch != NULL) {
        dispatch->Release();
    }
    return view;
}

// The shell's automation object behind the desktop's view, or null.
IShellDispatch2* DesktopShell()
{
    IShellView* view = DesktopView();
    if (view == NULL) {
        return NULL;
    }
    IShellDispatch2* shell = NULL;
    IDispatch* background = NULL;
    if (SUCCEEDED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, reinterpret_cast<void**>(&background)))) {
        IShellFolderViewDual* folder = NULL;
        if (SUCCEEDED(background->QueryInterface(IID_IShellFolderViewDual, reinterpret_cast<void**>(&folder)))) {
            IDispatch* application = NULL;
            if (SUCCEEDED(folder->get_Application(&application))) {
                if (FAILED(application->QueryInterface(IID_IShellDispatch2, reinterpret_cast<void**>(&shell)))) {
                    shell = NULL;
                }
                application->Release();
            }
            folder->Release();
        }
        background->Release();
    }
    view->Release();
    return shell;
}

// Run as administrator, the program has the desktop's own shell (Explorer,
// not elevated) open the link, so that the browser runs as the user does;
// never elevated, so without Explorer nothing opens.
void OpenAsUser(const wchar_t* url)
{
    IShellDispatch2* shell = DesktopShell();
    if (shell == NULL) {
        return;
    }
    // The browser Explorer starts may come to the front.
    DWORD explorer = 0;
    GetWindowThreadProcessId(GetShellWindow(), &explorer);
    AllowSetForegroundWindow(explorer);
    BSTR file = SysAllocString(url);
    VARIANT none;
    VariantInit(&none);
    VARIANT verb;
    VariantInit(&verb);
    verb.vt = VT_BSTR;
    verb.bstrVal = SysAllocString(L"open");
    VARIANT show;
    VariantInit(&show);
    show.vt = VT_I4;
    show.lVal = SW_SHOWMAXIMIZED;
    if (file != NULL && verb.bstrVal != NULL) {
        shell->ShellExecute(file, none, none, verb, show);
    }
    SysFreeString(file);
    VariantClear(&verb);
    shell->Release();
}

DWORD WINAPI OpenLinkThread(void* parameter)
{
    wchar_t* url = static_cast<wchar_t*>(parameter);
    // The shell may hand the work to COM objects of its own.
    const HRESULT com = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    if (RunsElevated()) {
        OpenAsUser(url);
    } else {
        ShellExecuteW(NULL, L"open", url, NULL, NULL, SW_SHOWMAXIMIZED);
    }
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    HeapFree(GetProcessHeap(), 0, url);
    return 0;
}

}  // namespace

void OpenLinkInBackground(const wchar_t* url)
{
    const size_t units = lstrlenW(url) + 1;
    wchar_t* copy = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, units * sizeof(wchar_t)));
    if (copy == NULL) {
        return;
    }
    CopyMemory(copy, url, units * sizeof(wchar_t));
    HANDLE thread = CreateThread(NULL, 0, OpenLinkThread, copy, 0, NULL);
    if (thread == NULL) {
        HeapFree(GetProcessHeap(), 0, copy);
        return;
    }
    CloseHandle(thread);
}

bool NewGuideNotice(NoticeKind kind, wchar_t** text)
{
    wchar_t* guide = NULL;
    wchar_t* notice = NULL;
    // The link hands its target back in a buffer of L_MAX_URL_LENGTH units;
    // a longer path would arrive cut short. Paths hold no '"', so the
    // attribute cannot end early.
    if (kind != NoticeGuide) {
        const wchar_t* const parts[] = {kind == NoticeTempFolder ? FROM_TEMP_FOLDER
                                        : kind == NoticeUnsaved  ? UNSAVED
                                                                 : OTHER_COPY};
        notice = NewText(parts, ARRAYSIZE(parts));
    } else if (GetGuidePath(&guide) && static_cast<size_t>(lstrlenW(guide)) < L_MAX_URL_LENGTH) {
        const wchar_t* const parts[] = {LINK_OPEN, guide, LINK_MIDDLE, GUIDE_TITLE, LINK_CLOSE};
        notice = NewText(parts, ARRAYSIZE(parts));
    } else {
        const wchar_t* const parts[] = {GUIDE_ELSEWHERE};
        notice = NewText(parts, ARRAYSIZE(parts));
    }
    if (guide != NULL) {
        HeapFree(GetProcessHeap(), 0, guide);
    }
    if (notice == NULL) {
        return false;
    }
    *text = notice;
    return true;
}
