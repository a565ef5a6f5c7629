// Handler lists: one per notification type, each with its own lock. A handler may take over
// a notification's default action or change the value returned to the reader.
#pragma once
#include "platform/win.h"

template <typename... Args>
class CEventHandler {
public:
    virtual ~CEventHandler() = default;
    virtual bool IsValid() { return true; }
    virtual void Invoke(Args... args) = 0;

    // The next dispatch drops the handler and releases it.
    void Remove() { m_bRemoved = 1; }

private:
    template <typename...>
    friend class CEventList;
    unsigned char m_bRemoved = 0;
    CEventHandler* m_pNext = nullptr;
};

template <typename... Args>
class CEventList {
public:
    using Handler = CEventHandler<Args...>;

    CEventList() { win::InitializeCriticalSection(&m_lock); }
    ~CEventList()
    {
        win::DeleteCriticalSection(&m_lock);
        while (Handler* h = m_pHead) {
            m_pHead = h->m_pNext;
            delete h;
        }
    }
    CEventList(const CEventList&) = delete;
    CEventList& operator=(const CEventList&) = delete;

    // Appends a handler; the list owns it from now on.
    void Add(Handler* handler)
    {
        win::EnterCriticalSection(&m_lock);
        Handler** link = &m_pHead;
        while (*link)
            link = &(*link)->m_pNext;
        *link = handler;
        win::LeaveCriticalSection(&m_lock);
    }

    // Runs the live handlers in list order, dropping removed or invalid ones on the way. The
    // last handler runs after the lock is left, so it may itself dispatch or add handlers.
    void Dispatch(Args... args)
    {
        win::EnterCriticalSection(&m_lock);
        Handler** link = &m_pHead;
        while (Handler* h = *link) {
            if (h->m_bRemoved || !h->IsValid()) {
                *link = h->m_pNext;
                delete h;
                continue;
            }
            if (!h->m_pNext) {
                win::LeaveCriticalSection(&m_lock);
                h->Invoke(args...);
                return;
            }
            h->Invoke(args...);
            link = &h->m_pNext;
        }
        win::LeaveCriticalSection(&m_lock);
    }

private:
    win::CRITICAL_SECTION m_lock;
    Handler* m_pHead = nullptr;
};
