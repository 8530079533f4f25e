// The owners of the suite's Windows resources: each handle, key, module,
// COM interface, BSTR and COM initialisation is released by exactly one of
// these, in its destructor. None can be copied.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

// One owned value of a kind that Traits describes: its empty value, when a
// value counts as held, and how it is released.
template <class Traits>
class UniqueResource {
public:
    using Type = typename Traits::Type;

    UniqueResource() = default;
    explicit UniqueResource(Type value) : m_value(value) {}
    ~UniqueResource() { Reset(); }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    // Releases what is held and takes value instead.
    void Reset(Type value = Traits::Empty()) {
        if (IsValid()) Traits::Close(m_value);
        m_value = value;
    }
    // For out parameters: releases what is held and hands out the slot.
    Type* Receive() {
        Reset();
        return &m_value;
    }
    Type Get() const { return m_value; }
    bool IsValid() const { return Traits::IsValid(m_value); }
    explicit operator bool() const { return IsValid(); }

private:
    Type m_value = Traits::Empty();
};

struct KernelHandleTraits {
    using Type = HANDLE;
    static HANDLE Empty() { return nullptr; }
    // Some functions fail with NULL, others with INVALID_HANDLE_VALUE.
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { CloseHandle(h); }
};

struct FindHandleTraits {
    using Type = HANDLE;
    static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(HANDLE h) { FindClose(h); }
};

struct ServiceHandleTraits {
    using Type = SC_HANDLE;
    static SC_HANDLE Empty() { return nullptr; }
    static bool IsValid(SC_HANDLE h) { return h != nullptr; }
    static void Close(SC_HANDLE h) { CloseServiceHandle(h); }
};

struct RegKeyTraits {
    using Type = HKEY;
    static HKEY Empty() { return nullptr; }
    static bool IsValid(HKEY h) { return h != nullptr; }
    static void Close(HKEY h) { RegCloseKey(h); }
};

struct ModuleTraits {
    using Type = HMODULE;
    static HMODULE Empty() { return nullptr; }
    static bool IsValid(HMODULE h) { return h != nullptr; }
    static void Close(HMODULE h) { FreeLibrary(h); }
};

// A kernel object: process, thread, file, event, snapshot...
using AutoCloseHandle = UniqueResource<KernelHandleTraits>;
// A FindFirstFile search.
using ScopedFindHandle = UniqueResource<FindHandleTraits>;
// The service manager or one service.
using AutoCloseServiceHandle = UniqueResource<ServiceHandleTraits>;
// An open registry key.
using ScopedRegKey = UniqueResource<RegKeyTraits>;
// A LoadLibrary reference.
using ScopedModule = UniqueResource<ModuleTraits>;

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    // Takes over a reference the caller already holds.
    explicit ComPtr(T* p) : m_p(p) {}
    ~ComPtr() { Reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    void Reset() {
        if (m_p) {
            m_p->Release();
            m_p = nullptr;
        }
    }
    // For out parameters: releases what is held and hands out the slot.
    T** Receive() {
        Reset();
        return &m_p;
    }
    void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }
    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    T* m_p = nullptr;
};

class ScopedBstr {
public:
    explicit ScopedBstr(const wchar_t* text) : m_b(SysAllocString(text)) {}
    ~ScopedBstr() { SysFreeString(m_b); }
    ScopedBstr(const ScopedBstr&) = delete;
    ScopedBstr& operator=(const ScopedBstr&) = delete;
    BSTR Get() const { return m_b; }

private:
    BSTR m_b;
};

// CoInitializeEx on construction, CoUninitialize on destruction (every successful
// initialisation, S_FALSE included, is balanced; a failed one, such as
// RPC_E_CHANGED_MODE on a thread that runs COM in the other mode, is not).
class ScopedCoInit {
public:
    explicit ScopedCoInit(DWORD model = COINIT_APARTMENTTHREADED) : m_hr(CoInitializeEx(nullptr, model)) {}
    ~ScopedCoInit() {
        if (SUCCEEDED(m_hr)) CoUninitialize();
    }
    ScopedCoInit(const ScopedCoInit&) = delete;
    ScopedCoInit& operator=(const ScopedCoInit&) = delete;
    HRESULT Result() const { return m_hr; }

private:
    HRESULT m_hr;
};
