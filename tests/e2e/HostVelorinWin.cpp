// A stand-in for Velorin on Windows: it shows a window of its own, starts the tool with a run
// and that window's handle in hexadecimal, as Velorin does, and reports through standard output
// what a test cannot see from outside under Wine (which does not draw a window another process
// adopts): the handle, then "incrustada" once the tool's main window is a child of the host's
// window (GetParent and IsChild agree), or "no incrustada" when the tool showed its main window
// as a top-level window instead. It ends with the tool's exit code.
#include <cstdio>
#include <cwchar>
#include <string>
#include <windows.h>

namespace
{

constexpr const wchar_t* kTituloHerramienta = L"Exportar e importar datos entre Velorin y GestIB";
constexpr UINT_PTR kTemporizador = 1;

HWND g_anfitrion = nullptr;
HANDLE g_proceso = nullptr;
bool g_informado = false;

void Informar(const char* texto)
{
    std::printf("%s\n", texto);
    std::fflush(stdout);
}

// Looks for the tool's main window: among the host window's children first, then among the
// top-level windows of the tool's process. The tool places its window inside the host's in steps
// (a new parent, then the child style), so a window that is not yet a child is looked at again
// until it has been seen for a while.
DWORD g_vistaDesde = 0;
constexpr DWORD kEspera = 5000;

void Comprobar()
{
    if (g_informado) {
        return;
    }
    HWND hija = FindWindowExW(g_anfitrion, nullptr, nullptr, kTituloHerramienta);
    if (hija != nullptr && GetParent(hija) == g_anfitrion && IsChild(g_anfitrion, hija)) {
        Informar("incrustada");
        g_informado = true;
        return;
    }
    HWND vista = hija;
    if (vista == nullptr) {
        HWND suelta = FindWindowW(nullptr, kTituloHerramienta);
        DWORD pid = 0;
        if (suelta != nullptr && IsWindowVisible(suelta)) {
            GetWindowThreadProcessId(suelta, &pid);
        }
        if (pid == GetProcessId(g_proceso)) {
            vista = suelta;
        }
    }
    if (vista == nullptr) {
        return;
    }
    if (g_vistaDesde == 0) {
        g_vistaDesde = GetTickCount();
        return;
    }
    if (GetTickCount() - g_vistaDesde < kEspera) {
        return;
    }
    char detalle[200];
    std::snprintf(
        detalle, sizeof detalle, "no incrustada: GetParent %p, IsChild %d, estilo %lX (el anfitrión es %p)",
        static_cast<void*>(GetParent(vista)), IsChild(g_anfitrion, vista) ? 1 : 0,
        static_cast<unsigned long>(GetWindowLongPtrW(vista, GWL_STYLE)), static_cast<void*>(g_anfitrion));
    Informar(detalle);
    g_informado = true;
}

LRESULT CALLBACK Procedimiento(HWND ventana, UINT mensaje, WPARAM w, LPARAM l)
{
    switch (mensaje) {
    case WM_TIMER:
        Comprobar();
        if (WaitForSingleObject(g_proceso, 0) == WAIT_OBJECT_0) {
            DestroyWindow(ventana);
        }
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(ventana, mensaje, w, l);
    }
}

} // namespace

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc != 3) {
        std::fprintf(stderr, "Uso: host_velorin_win PROGRAMA RUN\n");
        return 2;
    }

    WNDCLASSW clase{};
    clase.lpfnWndProc = Procedimiento;
    clase.hInstance = GetModuleHandleW(nullptr);
    clase.lpszClassName = L"VelorinAnfitrion";
    clase.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    RegisterClassW(&clase);
    g_anfitrion = CreateWindowExW(0, clase.lpszClassName, L"Velorin (anfitrión de prueba)",
                                  WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 20, 20, 800, 500, nullptr, nullptr,
                                  clase.hInstance, nullptr);
    if (g_anfitrion == nullptr) {
        std::fprintf(stderr, "No se pudo crear la ventana del anfitrión\n");
        return 72;
    }
    ShowWindow(g_anfitrion, SW_SHOW);
    UpdateWindow(g_anfitrion);

    char manejador[32];
    std::snprintf(manejador, sizeof manejador, "%llX",
                  static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(g_anfitrion)));
    Informar(manejador);

    std::wstring orden = L"\"" + std::wstring(argv[1]) + L"\" " + argv[2] + L" ";
    for (const char* c = manejador; *c != '\0'; ++c) {
        orden += static_cast<wchar_t>(*c);
    }
    STARTUPINFOW inicio{};
    inicio.cb = sizeof inicio;
    PROCESS_INFORMATION proceso{};
    if (!CreateProcessW(argv[1], orden.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &inicio,
                        &proceso)) {
        std::fprintf(stderr, "No se pudo iniciar la herramienta (error %lu)\n", GetLastError());
        return 71;
    }
    CloseHandle(proceso.hThread);
    g_proceso = proceso.hProcess;
    SetTimer(g_anfitrion, kTemporizador, 50, nullptr);

    MSG mensaje;
    while (GetMessageW(&mensaje, nullptr, 0, 0) > 0) {
        TranslateMessage(&mensaje);
        DispatchMessageW(&mensaje);
    }
    WaitForSingleObject(g_proceso, INFINITE);
    DWORD codigo = 70;
    GetExitCodeProcess(g_proceso, &codigo);
    CloseHandle(g_proceso);
    LocalFree(argv);
    return static_cast<int>(codigo);
}
