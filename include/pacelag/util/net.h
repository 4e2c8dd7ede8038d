// Part of pacelag/util.h: IPv6 and IPv4 address texts, socket addresses and
// the address record, URLs, and address patterns and ranges.
#pragma once

#include <cstdint>

struct sockaddr;

// ---- IPv6 and IPv4 address text ----

// 0 with the 16 network-order bytes, or -1 with all 16 bytes zero. Accepts one
// "::" and a trailing dotted IPv4 part; refuses zones, brackets and blanks.
int str2ipv6addr(const char* text, unsigned char addr[16]);
// Upper-case groups, the leftmost longest run of two or more zero groups as
// "::", an IPv4-mapped address as a bare dotted quad. buf holds 40 bytes.
// Returns the number of characters written.
int ipv6addr2str(char* buf, const unsigned char addr[16]);
// ipv6addr2str, '/', then the low 8 bits of prefix in decimal. buf holds 44 bytes.
int ipv6cidr2str(char* buf, unsigned prefix, const unsigned char addr[16]);

// ---- Socket addresses and the address record ----

// An address of either family in 16 bytes; the family (AF_INET or AF_INET6)
// travels beside it. IPv4: v4 is the host-order value (192.0.2.1 is
// 0xC0000201) and bytes 4..15 are zero, so IPv4 records compare as numbers.
// IPv6: v6 is the network-order address.
union ipvn {
    uint32_t v4;
    unsigned char v6[16];
};

// AF_INET and AF_INET6 fill rec; any other family leaves it all zero.
void sockaddr2ipvn(const sockaddr* sa, ipvn* rec);
// Dotted quad for any family but AF_INET6, ipv6addr2str for AF_INET6. buf
// holds 40 bytes. Returns the number of characters written.
int ipvn2str(char* buf, const ipvn* rec, int family);
// Numeric host text of sa without zone and without an IPv4-mapped prefix.
// Returns getnameinfo's result: 0, or an EAI_ code with host left empty.
int sockaddr2host(const sockaddr* sa, char* host, int hostlen);
// In place: cuts at the first '%', then drops a leading "::ffff:" (any case)
// before a dotted quad; other addresses that begin so are left whole.
void hostunmap(char* host);
// True when an IPv6 stream socket accepts IPV6_V6ONLY = 0 (serves IPv4 too).
bool ipv6dualstack();

// ---- URLs ----

// dsturl = url, a '/' if needed, path, with spaces removed; ext (when the
// result ends in an extension of up to 5 characters) replaces that extension:
// "" drops it, ".x" replaces it with its dot, "x" keeps the dot. 0, or -1 with
// dsturl empty when the result does not fit in dstlen bytes.
int urlpathname(char* dsturl, int dstlen, const char* url, const char* path, const char* ext);
// Splits an absolute http or https URL. 0 with *host and *path newly
// allocated (free them), or -1 with both null. url is left unchanged.
int urlsplit(char* url, int* port, char** host, char** path);
// Percent-decodes in place ('+' becomes a space); returns the new length.
unsigned urldecode(char* text);
// The byte of two hexadecimal digits; a space when either is not one.
char hexpair(char hi, char lo);

// ---- Address patterns and ranges ----
// Patterns: an address, address/prefix, first-last, "*", IPv4 wildcards such as
// "10.1.*.*". Blanks and tabs are ignored; host bits beyond a prefix are
// refused; reversed ends are swapped.

// Host-order inclusive range; -1 with both ends 0 on failure.
int str2ipv4range(const char* pattern, uint32_t* low, uint32_t* high);
bool ipv4match(const char* pattern, uint32_t addr);
// Address with an optional "/n" (0..128, default 128). -1 with prefixlen 128
// and addr zero on failure. text is only read.
int str2ipv6prefix(char* text, unsigned char* prefixlen, unsigned char addr[16]);
// Network-order inclusive range; "::" alone is every address. -1 with both
// ends zero on failure.
int str2ipv6range(const char* pattern, unsigned char low[16], unsigned char high[16]);
bool ipv6match(const char* pattern, const unsigned char addr[16]);
// IPv6 when the pattern holds a ':', IPv4 otherwise. family is AF_INET or
// AF_INET6, or -1 with both records zero when the pattern fails.
int str2iprange(const char* pattern, ipvn* low, ipvn* high, int* family);
