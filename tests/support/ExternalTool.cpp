#include "ExternalTool.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <thread>
#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#else
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace zendral::test
{
namespace
{

std::vector<std::string> Lines(const std::string& output)
{
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < output.size();) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos) {
            end = output.size();
        }
        lines.emplace_back(output, start, end - start);
        start = end + 1;
    }
    return lines;
}

std::string ShellQuoted(const std::string& s)
{
#ifdef _WIN32
    // cmd.exe: double quotes (paths hold no quotes of their own).
    return "\"" + s + "\"";
#else
    std::string out = "'";
    for (const char ch : s) {
        out += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    }
    return out + "'";
#endif
}

#ifdef _WIN32

// The independent readers are Linux programs. Under Wine a Windows program can start a Linux
// program with CreateProcess, but Wine neither waits for it nor learns its exit status. So the
// command goes into a script for /bin/sh that sends the reader's output to one file and, once the
// reader has ended, writes its exit status (ending in a line feed) to another; this side waits
// for that file.

std::wstring Wide(const std::string& s)
{
    // Test code passes UTF-8; text that is not valid UTF-8 is taken in the ANSI code page.
    for (const UINT page : {static_cast<UINT>(CP_UTF8), static_cast<UINT>(CP_ACP)}) {
        const DWORD flags = page == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
        const int n = MultiByteToWideChar(page, flags, s.data(), static_cast<int>(s.size()), nullptr, 0);
        if (n > 0 || s.empty()) {
            std::wstring w(static_cast<std::size_t>(n), L'\0');
            MultiByteToWideChar(page, flags, s.data(), static_cast<int>(s.size()), w.data(), n);
            return w;
        }
    }
    return {};
}

using UnixFileName = char*(CDECL*)(LPCWSTR);

UnixFileName WineUnixFileName()
{
    // Exported by Wine's kernel32 only: its presence is how a test knows it runs under Wine.
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    return kernel == nullptr ? nullptr
                             : reinterpret_cast<UnixFileName>(reinterpret_cast<void*>(
                                   GetProcAddress(kernel, "wine_get_unix_file_name")));
}

// The Linux name of a Windows path ("C:\users\..." -> "/…/drive_c/users/…").
std::string UnixName(UnixFileName convert, const std::wstring& windowsName)
{
    char* unix = convert(windowsName.c_str());
    if (unix == nullptr) {
        return {};
    }
    std::string name = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return name;
}

bool IsWindowsPath(const std::string& s)
{
    return s.size() >= 3 && ((s[0] >= 'A' && s[0] <= 'Z') || (s[0] >= 'a' && s[0] <= 'z')) && s[1] == ':' &&
           (s[2] == '\\' || s[2] == '/');
}

// One argument quoted as the Windows command-line rules read it back (Wine splits the command
// line of a Linux program by the same rules).
std::wstring Quoted(const std::wstring& arg)
{
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t ch : arg) {
        if (ch == L'\\') {
            ++backslashes;
            continue;
        }
        if (ch == L'"') {
            out.append(backslashes * 2 + 1, L'\\');
        } else {
            out.append(backslashes, L'\\');
        }
        backslashes = 0;
        out += ch;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

std::string ReadAll(const std::wstring& file)
{
    std::ifstream in(std::filesystem::path(file), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Utf8(const wchar_t* wide)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? static_cast<std::size_t>(n) : 1u, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, s.data(), n, nullptr, nullptr);
    s.resize(s.size() - 1);
    return s;
}

// The exit code a killed helper gets; a helper itself only ever exits with small codes.
constexpr UINT kKilled = 0xDEADu;

ToolOutput RunLinuxTool(const std::vector<std::string>& arguments)
{
    ToolOutput result;
    const UnixFileName convert = WineUnixFileName();
    if (convert == nullptr) {
        result.lines.push_back("the Linux readers can only be started under Wine, and this is not Wine");
        return result;
    }
    wchar_t temp[MAX_PATH + 1];
    const DWORD tempLen = GetTempPathW(MAX_PATH + 1, temp);
    static unsigned counter = 0;
    const std::wstring base = std::wstring(temp, tempLen) + L"zendral-tool-" +
                              std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
    const std::wstring outFile = base + L".out";
    const std::wstring statusFile = base + L".rc";
    const std::wstring scriptFile = base + L".sh";
    DeleteFileW(outFile.c_str());
    DeleteFileW(statusFile.c_str());

    // The command goes into a shell script rather than onto the command line: Wine would hand
    // the arguments over in UTF-8 (a reader may need other bytes, such as windows-1252 keys),
    // and a Windows command line holds at most 32767 characters.
    std::string script;
    for (const std::string& argument : arguments) {
        script += ShellQuoted(IsWindowsPath(argument) ? UnixName(convert, Wide(argument)) : argument) + " ";
    }
    script += ">" + ShellQuoted(UnixName(convert, outFile)) + " 2>&1\necho $? >" +
              ShellQuoted(UnixName(convert, statusFile)) + "\n";
    {
        std::ofstream out(std::filesystem::path(scriptFile), std::ios::binary);
        out << script;
    }
    std::wstring commandLine = L"/bin/sh " + Quoted(Wide(UnixName(convert, scriptFile)));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        result.lines.push_back("cannot start /bin/sh through Wine (error " + std::to_string(GetLastError()) +
                               ")");
        return result;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    std::string status;
    while ((status = ReadAll(statusFile)).empty() || status.back() != '\n') {
        if (std::chrono::steady_clock::now() > deadline) {
            result.lines.push_back("the Linux reader did not finish within two minutes");
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    result.lines = Lines(ReadAll(outFile));
    result.ok = status == "0\n";
    if (!result.ok) {
        result.lines.push_back("exit status " + status.substr(0, status.size() - 1));
    }
    DeleteFileW(outFile.c_str());
    DeleteFileW(statusFile.c_str());
    DeleteFileW(scriptFile.c_str());
    return result;
}

#endif

std::map<std::string, HelperFunction>& Helpers()
{
    static std::map<std::string, HelperFunction> helpers;
    return helpers;
}

constexpr const char* kHelperOption = "--helper";

} // namespace

bool RegisterHelper(const char* name, HelperFunction function)
{
    Helpers()[name] = function;
    return true;
}

std::filesystem::path PathArgument(const std::string& argument)
{
    return std::filesystem::path(std::u8string(argument.begin(), argument.end()));
}

std::string ArgumentOf(const std::filesystem::path& path)
{
    const std::u8string s = path.u8string();
    return {s.begin(), s.end()};
}

bool RunHelperIfAsked(int argc, char** argv, int& code)
{
    if (argc < 3 || std::strcmp(argv[1], kHelperOption) != 0) {
        return false;
    }
    std::vector<std::string> arguments;
#ifdef _WIN32
    // The wide command line, so paths outside the ANSI code page arrive whole.
    int n = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &n);
    for (int i = 3; wide != nullptr && i < n; ++i) {
        arguments.push_back(Utf8(wide[i]));
    }
    LocalFree(wide);
#else
    arguments.assign(argv + 3, argv + argc);
#endif
    const auto helper = Helpers().find(argv[2]);
    if (helper == Helpers().end()) {
        std::fprintf(stderr, "no helper called %s\n", argv[2]);
        code = 3;
        return true;
    }
    code = helper->second(arguments);
    return true;
}

HelperProcess::HelperProcess(const std::string& name, const std::vector<std::string>& arguments)
{
#ifdef _WIN32
    wchar_t self[32768];
    const DWORD len = GetModuleFileNameW(nullptr, self, 32768);
    std::wstring commandLine =
        Quoted(std::wstring(self, len)) + L" " + Quoted(Wide(kHelperOption)) + L" " + Quoted(Wide(name));
    for (const std::string& argument : arguments) {
        commandLine += L" " + Quoted(Wide(argument));
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // Wine now and then refuses to start a process with ERROR_INTERNAL_ERROR while its server is
    // busy; a second try a moment later starts it.
    bool started = false;
    for (int attempt = 0; attempt < 3 && !started; ++attempt) {
        if (attempt > 0) {
            Sleep(200);
        }
        started = CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &process);
        if (!started && GetLastError() != ERROR_INTERNAL_ERROR) {
            break;
        }
    }
    if (!started) {
        ADD_FAILURE() << ("cannot start the helper " + name + " (error " + std::to_string(GetLastError()) +
                          ")");
        m_ended = true;
        return;
    }
    CloseHandle(process.hThread);
    m_process = process.hProcess;
#else
    std::vector<std::string> words = {"/proc/self/exe", kHelperOption, name};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv.data(), environ) != 0) {
        ADD_FAILURE() << ("cannot start the helper " + name);
        m_ended = true;
        return;
    }
    m_pid = pid;
#endif
}

HelperProcess::~HelperProcess()
{
    Kill();
#ifdef _WIN32
    if (m_process != nullptr) {
        CloseHandle(m_process);
    }
#endif
}

void HelperProcess::Kill()
{
    if (m_ended) {
        return;
    }
#ifdef _WIN32
    TerminateProcess(m_process, kKilled);
#else
    ::kill(m_pid, SIGKILL);
#endif
    Wait();
}

int HelperProcess::Wait()
{
    if (m_ended) {
        return m_status;
    }
#ifdef _WIN32
    WaitForSingleObject(m_process, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(m_process, &code);
    m_status = code == kKilled ? -1 : static_cast<int>(code);
#else
    int status = 0;
    while (::waitpid(m_pid, &status, 0) == -1 && errno == EINTR) {
    }
    m_status = WIFSIGNALED(status) ? -1 : WEXITSTATUS(status);
#endif
    m_ended = true;
    return m_status;
}

std::string WaitForFile(const std::filesystem::path& file, int seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        std::ifstream in(file, std::ios::binary);
        std::string contents{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        if (!contents.empty()) {
            return contents;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return {};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

std::string ToolOutput::Text() const
{
    std::string text;
    for (const std::string& line : lines) {
        text.append(line).append("\n");
    }
    return text;
}

ToolOutput RunTool(const std::vector<std::string>& arguments)
{
#ifdef _WIN32
    return RunLinuxTool(arguments);
#else
    std::string command;
    for (const std::string& argument : arguments) {
        command += ShellQuoted(argument) + " ";
    }
    command += "2>&1";
#ifdef _WIN32
    // cmd.exe /c drops the first and the last quote of a line that starts with one.
    command = "\"" + command + "\"";
#endif
    ToolOutput result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        result.lines.push_back("cannot run " + command);
        return result;
    }
    std::string output;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        output.append(buffer, n);
    }
    const int status = ::pclose(pipe);
    result.ok = status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    result.lines = Lines(output);
    return result;
#endif
}

} // namespace zendral::test
