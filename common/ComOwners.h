// Owners for COM resources: an interface pointer, a BSTR, and one
// CoInitialize/CoUninitialize pair on the current thread.
#pragma once

#include <objbase.h>
#include <oleauto.h>

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

// CoInitialize on construction, CoUninitialize on destruction (every successful
// initialisation, S_FALSE included, is balanced; a failed one is not).
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
