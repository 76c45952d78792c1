#include "DirectoryTesting.h"

#include "errors/Text.h"

namespace DirectoryTesting {

namespace {

using OutstandingFunction = void(WINAPI*)(LONG*, LONG*, LONG*);
using RestartFunction = void(WINAPI*)();

FARPROC DoubleExport(const char* name)
{
    return ::GetProcAddress(::GetModuleHandleW(L"activeds.dll"), name);
}

template <class TFunction>
TFunction DoubleFunction(const char* name)
{
    return reinterpret_cast<TFunction>(reinterpret_cast<void*>(DoubleExport(name)));
}

} // namespace

std::wstring Server(const std::wstring& instance)
{
    const std::wstring portFile = TestSupport::BinDirectory() + L"\\..\\ldap\\" + instance + L"\\port";
    if (!TestSupport::Exists(portFile)) {
        ADD_FAILURE() << "no slapd instance " << Narrow(instance) << " is running: start the directory fixture";
        return L"127.0.0.1:1";
    }
    return L"127.0.0.1:" + Util::Trim(ToWide(TestSupport::ReadBytes(portFile)));
}

SwitchSettings Settings(const std::wstring& instance, const std::wstring& password)
{
    SwitchSettings settings;
    settings.DCName = Server(instance);
    settings.DCAccount = ServiceAccount;
    settings.DCPassword = password;
    return settings;
}

Adsi::CDirObject BindNamingContext(const std::wstring& instance, DWORD flags)
{
    Adsi::TAdsiPtr<IDirectoryObject> object;
    const std::wstring path = L"LDAP://" + Server(instance) + L"/" + NamingContext;
    const HRESULT hr =
        ::ADsOpenObject(path.c_str(), ServiceAccount, ServicePassword, flags, IID_IDirectoryObject, object.Put());
    EXPECT_EQ(S_OK, hr) << "binding " << Narrow(path);
    return Adsi::CDirObject(object);
}

std::wstring Source(const std::wstring& name)
{
    return SourcePrefix + name;
}

std::wstring Target(const std::wstring& name)
{
    return TargetPrefix + name;
}

std::string Narrow(const std::wstring& text)
{
    return ToNarrow(text);
}

bool IsDoubleLoaded()
{
    return DoubleExport("BriskletDoubleMarker") != nullptr;
}

void DoubleTest::SetUp()
{
    ASSERT_TRUE(IsDoubleLoaded()) << "the activeds double must be loaded (WINEDLLOVERRIDES=activeds=n)";
    ::SetEnvironmentVariableW(L"BRISKLET_ADSI_DOUBLE", steeringDirectory.Path().c_str());
    Steer("");
}

void DoubleTest::TearDown()
{
    if (!IsDoubleLoaded()) {
        return;
    }
    LONG references = -1;
    LONG searches = -1;
    LONG columns = -1;
    DoubleFunction<OutstandingFunction>("BriskletAdsiOutstanding")(&references, &searches, &columns);
    EXPECT_EQ(0, references) << "interface references still held";
    EXPECT_EQ(0, searches) << "search handles not closed";
    EXPECT_EQ(0, columns) << "columns not freed";
}

void DoubleTest::Steer(const std::string& steering)
{
    TestSupport::WriteBytes(steeringDirectory / L"steering.txt", steering);
    DoubleFunction<RestartFunction>("BriskletAdsiRestart")();
}

std::string DoubleTest::Calls() const
{
    const std::wstring path = steeringDirectory / L"calls.txt";
    return TestSupport::Exists(path) ? TestSupport::ReadBytes(path) : std::string();
}

} // namespace DirectoryTesting
