// Sites of hosts, by the Public Suffix List compiled into the library.
//
// A public suffix is a name under which anyone can register names of their
// own: com, co.uk, github.io. A host's registrable domain is its public
// suffix and the one label before it (www.example.co.uk: example.co.uk),
// and two hosts of one registrable domain belong to the same site.
//
// The list is the one of Debian's publicsuffix package, ICANN and private
// sections, as src/filter/public_suffix_table.inc holds it (see there for
// its version; scripts/gen-public-suffix regenerates it). Nothing is read at
// run time.
//
// Hosts are given as (pointer, length), without port: no terminator is
// needed, the host may be null when its length is 0 or less (an empty host),
// and nothing is copied or allocated. Both functions are pure over constant
// data and safe on any number of threads at once. A lookup walks the host's
// labels from the right, one hash probe for each, and stops at the first
// suffix that no rule ends in: a few tens of nanoseconds for common hosts.
//
// How a host is read:
// - Its labels are the parts between dots; they are not checked for being
//   valid DNS labels. One trailing dot is ignored (example.co.uk. is read as
//   example.co.uk).
// - ASCII letters match in either case; every other byte matches only
//   itself. A listed name that is not ASCII matches as the list writes it
//   (UTF-8) and with each of its non-ASCII labels in punycode (xn--...),
//   not in a mixture of the two.
// - Of the rules that match the host's last labels, an exception rule (!)
//   wins; otherwise the one of the most labels does. A normal rule (co.uk)
//   is itself the public suffix; a wildcard rule (*.ck) makes any one label
//   before its name part of the suffix (a.ck); an exception rule (!www.ck)
//   makes its name without its first label the suffix (ck), so that www.ck
//   is a registrable domain.
// - There is no implicit rule for unlisted top-level labels.
#ifndef TESSUL_FILTER_PUBLIC_SUFFIX_H_
#define TESSUL_FILTER_PUBLIC_SUFFIX_H_

namespace tessul {

// Where the registrable domain of host[0, hostLen) starts: it runs from the
// returned offset to the host's end (with the trailing dot, if any). For
// a.b.co.uk it is 2 (b.co.uk); for a.user.github.io, 2 (user.github.io).
//
// The answer is 0, the whole host being its own site, when the host
//   - is empty (hostLen <= 0);
//   - is an IP address: its last label holds a ':' or a ']' (IPv6, bare or
//     bracketed: 2001:db8::1, [2001:db8::1]) or is all decimal digits (IPv4
//     as URL parsers read it, 192.168.0.1, and IPv6 ending in IPv4,
//     ::ffff:10.0.0.1). So is a host with a port (a.co.uk:8080);
//   - has no rule matching its last labels: its top-level label is unlisted
//     (printer.local, localhost, or a plain example);
//   - is itself a public suffix (co.uk, github.io, a.ck);
//   - or is a registrable domain (example.co.uk, www.ck).
int registrableDomainOffset(const char* host, int hostLen);

// Whether pageHost and requestHost belong to different sites: whether their
// registrable domains (above, trailing dots dropped) differ, ASCII letters
// compared in either case. www.nownews.com and ad2018.nownews.com are one
// site; a.co.uk and b.co.uk are two. A host that is its own site whole (an
// IP address, an unlisted name, a public suffix) is the same site only as
// the same host: co.uk and a.co.uk are two sites. Two empty hosts are one
// site; an empty host and another are two.
bool isThirdPartySite(const char* pageHost, int pageLen,
                      const char* requestHost, int requestLen);

}  // namespace tessul

#endif  // TESSUL_FILTER_PUBLIC_SUFFIX_H_
