#include "user_start.h"

#include <windows.h>
#include <exdisp.h>
#include <shldisp.h>
#include <shlobj.h>

#include "setup_state.h"

namespace {

// {4C96BE40-915C-11CF-99D3-00AA004AE837}: the service of the top-level
// browser of a shell window.
const GUID TopLevelBrowserService = {0x4c96be40, 0x915c, 0x11cf, {0x99, 0xd3, 0x00, 0xaa, 0x00, 0x4a, 0xe8, 0x37}};

template <typename T> void Release(T*& object)
{
    if (object)
        object->Release();
    object = nullptr;
}

// The desktop's shell object (Shell.Application) of the running Explorer.
IShellDispatch2* DesktopShell()
{
    IShellWindows* windows = nullptr;
    IDispatch* desktop = nullptr;
    IServiceProvider* services = nullptr;
    IShellBrowser* browser = nullptr;
    IShellView* view = nullptr;
    IDispatch* background = nullptr;
    IShellFolderViewDual* folderView = nullptr;
    IDispatch* application = nullptr;
    IShellDispatch2* shell = nullptr;
    VARIANT location, root;
    VariantInit(&location);
    VariantInit(&root);
    location.vt = VT_I4;
    location.lVal = CSIDL_DESKTOP;
    long window = 0;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                   reinterpret_cast<void**>(&windows)))
        && windows->FindWindowSW(&location, &root, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, &desktop) == S_OK
        && desktop && SUCCEEDED(desktop->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&services)))
        && SUCCEEDED(services->QueryService(TopLevelBrowserService, IID_IShellBrowser,
                                            reinterpret_cast<void**>(&browser)))
        && SUCCEEDED(browser->QueryActiveShellView(&view))
        && SUCCEEDED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, reinterpret_cast<void**>(&background)))
        && SUCCEEDED(background->QueryInterface(IID_IShellFolderViewDual, reinterpret_cast<void**>(&folderView)))
        && SUCCEEDED(folderView->get_Application(&application)) && application)
        application->QueryInterface(IID_IShellDispatch2, reinterpret_cast<void**>(&shell));
    Release(application);
    Release(folderView);
    Release(background);
    Release(view);
    Release(browser);
    Release(services);
    Release(desktop);
    Release(windows);
    return shell;
}

// A text of the ANSI code page as a BSTR (nullptr when it cannot be made).
BSTR WideText(const char* text)
{
    WCHAR wide[PathSize];
    if (!MultiByteToWideChar(CP_ACP, 0, text, -1, wide, PathSize))
        return nullptr;
    return SysAllocString(wide);
}

} // namespace

bool RunsElevated()
{
    // Asked of the token, never of the version: a compatibility mode reports
    // an old Windows while the token is elevated all the same. Before
    // Windows Vista the question fails, and nothing is elevated; on Vista
    // and later a question that fails counts as elevated, so that no
    // elevated start hides behind it.
    HANDLE token;
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    DWORD size = 0;
    bool known = false;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        known = GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size) != FALSE;
        CloseHandle(token);
    }
    if (!known)
        return IsVistaOrLater();
    return type == TokenElevationTypeFull;
}

bool OpenThroughShell(const char* file, const char* folder)
{
    if (FAILED(CoInitialize(nullptr)))
        return false;
    bool started = false;
    if (IShellDispatch2* shell = DesktopShell()) {
        VARIANT arguments, directory, verb, show;
        VariantInit(&arguments);
        VariantInit(&directory);
        VariantInit(&verb);
        VariantInit(&show);
        directory.vt = VT_BSTR;
        directory.bstrVal = WideText(folder);
        verb.vt = VT_BSTR;
        verb.bstrVal = SysAllocString(L"open");
        show.vt = VT_I4;
        show.lVal = SW_SHOWNORMAL;
        BSTR name = WideText(file);
        started = name && directory.bstrVal && verb.bstrVal
            && shell->ShellExecute(name, arguments, directory, verb, show) == S_OK; // a failure may come as S_FALSE
        SysFreeString(name);
        VariantClear(&directory);
        VariantClear(&verb);
        shell->Release();
    }
    CoUninitialize();
    return started;
}
