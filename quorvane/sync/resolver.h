// Name resolution on a worker thread, and the protocol-independent resolver
// functions looked up at run time.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

// One resolution. The worker owns a copy of everything it reads, and the
// record stays alive until both the worker and the requester let go of it,
// so an abandoned worker never touches a newer attempt's data, and its
// address list is released with the record when nobody took it.
struct ResolveRequest;

// Starts a worker that resolves `node` and `service` with `hints`, then posts
// `message` to `window`: wParam = ResolverId of the request, high word of
// lParam = getaddrinfo's result (0 = success). Without a window (a program
// that has none) it sets the request's ResolverEvent instead, and
// ResolverResult tells the result. Returns null when no worker could be
// started.
ResolveRequest* StartResolver(HWND window, UINT message, const char* node, const char* service,
                              const addrinfo* hints);
HANDLE ResolverEvent(const ResolveRequest* request);
int ResolverResult(const ResolveRequest* request);
// The identifier that the completion message carries. Identifiers are never
// reused within a run, unlike thread handles.
WPARAM ResolverId(const ResolveRequest* request);
// Hands the resolved list to the caller, who releases it with
// FreeAddressList. Only valid after the completion message arrived.
addrinfo* TakeResolvedList(ResolveRequest* request);
// The requester's release; an outstanding worker runs on and cleans up.
void ReleaseResolver(ResolveRequest* request);

// The three resolver functions: the system's (ws2_32 or wship6 of the system
// folder) where it has them, otherwise the IPv4-only emulation.
enum ResolverFunction { ResolveGetAddrInfo = 0, ResolveGetNameInfo = 1, ResolveFreeAddrInfo = 2 };
void (*LoadResolverFunctions(int index))();
int GetNumericHost(const sockaddr* address, int length, char* host, DWORD hostSize);
void FreeAddressList(addrinfo* list);
