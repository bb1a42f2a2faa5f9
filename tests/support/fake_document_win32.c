/* See fake_document_win32.h. Every object counts its references into the
   page as well, so that a test can see that the adapter released them all. */
#include "fake_document_win32.h"

#include <windows.h>
// after windows.h
#include <mshtml.h>

#define HREF_ID 1000

typedef struct {
    const IHTMLDocument2Vtbl* lpVtbl;
    struct FakePage* page;
    LONG refs;
} Doc;

typedef struct {
    const IHTMLElementVtbl* lpVtbl;
    struct FakePage* page;
    LONG refs;
} Element;

typedef struct {
    const IHTMLWindow2Vtbl* lpVtbl;
    struct FakePage* page;
    LONG refs;
} Window;

/* The IUnknown and IDispatch parts of each fake: `self` answers for IUnknown,
   IDispatch and its own interface. */
#define FAKE_UNKNOWN(T, I, IID_OWN)                                                                \
    static ULONG STDMETHODCALLTYPE T##_AddRef(I* This) {                                           \
        T* self = (T*)This;                                                                        \
        ++self->page->references;                                                                  \
        return (ULONG)++self->refs;                                                                \
    }                                                                                              \
    static ULONG STDMETHODCALLTYPE T##_Release(I* This) {                                          \
        T* self = (T*)This;                                                                        \
        LONG n = --self->refs;                                                                     \
        --self->page->references;                                                                  \
        if (n == 0) HeapFree(GetProcessHeap(), 0, self);                                           \
        return (ULONG)n;                                                                           \
    }                                                                                              \
    static HRESULT STDMETHODCALLTYPE T##_QueryInterface(I* This, REFIID riid, void** out) {        \
        if (IsEqualIID(riid, &IID_IUnknown) || IsEqualIID(riid, &IID_IDispatch) ||                 \
            IsEqualIID(riid, IID_OWN)) {                                                           \
            *out = This;                                                                           \
            T##_AddRef(This);                                                                      \
            return S_OK;                                                                           \
        }                                                                                          \
        *out = NULL;                                                                               \
        return E_NOINTERFACE;                                                                      \
    }                                                                                              \
    static void* T##_new(const void* vtbl, struct FakePage* page) {                                \
        T* self = (T*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(T));                    \
        self->lpVtbl = vtbl;                                                                       \
        self->page = page;                                                                         \
        self->refs = 1;                                                                            \
        ++page->references;                                                                        \
        return self;                                                                               \
    }

FAKE_UNKNOWN(Doc, IHTMLDocument2, &IID_IHTMLDocument2)
FAKE_UNKNOWN(Element, IHTMLElement, &IID_IHTMLElement)
FAKE_UNKNOWN(Window, IHTMLWindow2, &IID_IHTMLWindow2)

static const IHTMLElementVtbl elementVtbl;
static const IHTMLWindow2Vtbl windowVtbl;

static HRESULT STDMETHODCALLTYPE Doc_get_title(IHTMLDocument2* This, BSTR* p) {
    const Doc* self = (const Doc*)This;
    if (!self->page->title) return E_FAIL;
    *p = SysAllocString(self->page->title);
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE Doc_get_activeElement(IHTMLDocument2* This, IHTMLElement** p) {
    const Doc* self = (const Doc*)This;
    *p = self->page->tagName ? (IHTMLElement*)Element_new(&elementVtbl, self->page) : NULL;
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE Doc_get_parentWindow(IHTMLDocument2* This, IHTMLWindow2** p) {
    const Doc* self = (const Doc*)This;
    *p = (IHTMLWindow2*)Window_new(&windowVtbl, self->page);
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE Element_get_tagName(IHTMLElement* This, BSTR* p) {
    *p = SysAllocString(((const Element*)This)->page->tagName);
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE Element_GetIDsOfNames(IHTMLElement* This, REFIID riid,
                                                       LPOLESTR* names, UINT count, LCID lcid,
                                                       DISPID* ids) {
    const Element* self = (const Element*)This;
    (void)riid;
    (void)lcid;
    if (count != 1 || !self->page->href || lstrcmpiW(names[0], L"href") != 0) {
        ids[0] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    ids[0] = HREF_ID;
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE Element_Invoke(IHTMLElement* This, DISPID id, REFIID riid,
                                                LCID lcid, WORD flags, DISPPARAMS* params,
                                                VARIANT* result, EXCEPINFO* info, UINT* arg) {
    const Element* self = (const Element*)This;
    (void)riid;
    (void)lcid;
    (void)info;
    (void)arg;
    if (id != HREF_ID || !(flags & DISPATCH_PROPERTYGET) || !params || params->cArgs != 0 ||
        !result)
        return DISP_E_MEMBERNOTFOUND;
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = SysAllocString(self->page->href);
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE Window_execScript(IHTMLWindow2* This, BSTR code, BSTR language,
                                                   VARIANT* result) {
    struct FakePage* page = ((const Window*)This)->page;
    ++page->scripts;
    lstrcpynW(page->script, code ? code : L"(null)", 128);
    lstrcpynW(page->language, language ? language : L"(null)", 32);
    if (result) V_VT(result) = VT_EMPTY;
    return (HRESULT)page->scriptResult;
}

/* Only what the adapter calls; the rest stays NULL and is never reached. */
static const IHTMLDocument2Vtbl docVtbl = {
    .QueryInterface = Doc_QueryInterface,
    .AddRef = Doc_AddRef,
    .Release = Doc_Release,
    .get_activeElement = Doc_get_activeElement,
    .get_title = Doc_get_title,
    .get_parentWindow = Doc_get_parentWindow,
};

static const IHTMLElementVtbl elementVtbl = {
    .QueryInterface = Element_QueryInterface,
    .AddRef = Element_AddRef,
    .Release = Element_Release,
    .GetIDsOfNames = Element_GetIDsOfNames,
    .Invoke = Element_Invoke,
    .get_tagName = Element_get_tagName,
};

static const IHTMLWindow2Vtbl windowVtbl = {
    .QueryInterface = Window_QueryInterface,
    .AddRef = Window_AddRef,
    .Release = Window_Release,
    .execScript = Window_execScript,
};

void* fakeDocument(struct FakePage* page) {
    return Doc_new(&docVtbl, page);
}
