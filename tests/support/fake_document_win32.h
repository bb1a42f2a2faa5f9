/* A stand-in for the HTML document the web browser control hands out
   (IHTMLDocument2 with an active element and a window), for testing what the
   adapter reads from a document without an HTML engine. Written in C: the
   C form of the interfaces lets it fill only the methods the adapter calls. */
#ifndef FAKE_DOCUMENT_WIN32_H
#define FAKE_DOCUMENT_WIN32_H

#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

struct FakePage {
    const wchar_t* title;   /* NULL: reading the title fails */
    const wchar_t* tagName; /* NULL: no element has the focus */
    const wchar_t* href;    /* NULL: the element has no href property */
    long scriptResult;      /* the HRESULT execScript answers */
    wchar_t script[128];    /* the last script run, and its language */
    wchar_t language[32];
    int scripts;     /* execScript calls */
    long references; /* held on all fake objects together */
};

/* An IDispatch* (of an IHTMLDocument2) with one reference held by the caller. */
void* fakeDocument(struct FakePage* page);

#ifdef __cplusplus
}
#endif

#endif
