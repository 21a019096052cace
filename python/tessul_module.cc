// The Python module tessul._tessul: TessulClient as tessul.Engine.
//
// Threads: the engine has no locks, so each Engine holds a mutex around
// every call into it. A call converts its arguments while it holds the GIL,
// then releases the GIL, takes the engine's mutex and works, so that other
// Python threads run meanwhile and no thread ever waits for the mutex while
// holding the GIL. Rule texts are copied out while the mutex is held: the
// rules they come from belong to the engine and change with it.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/tessul_client.h"
#include "filter/filter.h"
#include "filter/option_keywords.h"
#include "tessul_version.h"

namespace py = pybind11;

namespace tessul {
namespace python {

namespace {

// The answer for one request, with the deciding rules as list text.
struct Match {
  bool blocked = false;
  std::optional<std::string> rule;       // the blocking rule that matched
  std::optional<std::string> exception;  // the exception rule that matched
};

// A note that parsing made on one line of a list.
using Note = std::pair<int, std::string>;

std::optional<std::string> textOf(const Filter* rule) {
  if (rule == nullptr) return std::nullopt;
  return ruleText(*rule);
}

// The engine reads texts up to a NUL byte; a text holding one would be
// answered for less than it says.
void refuseNul(std::string_view text, const char* what) {
  const size_t nul = text.find('\0');
  if (nul != std::string_view::npos) {
    throw py::value_error(std::string(what) + " holds a NUL byte at offset " +
                          std::to_string(nul));
  }
}

// The bit of a request type keyword; an empty one, as in request logs,
// leaves the kind unknown.
FilterOption requestType(std::string_view keyword) {
  if (keyword.empty()) return OptNone;
  const std::optional<FilterOption> type = requestTypeOption(keyword);
  if (!type) {
    throw py::value_error("unknown request type '" + std::string(keyword) +
                          "'; known types: " + requestTypeKeywords());
  }
  return *type;
}

// The UTF-8 bytes of a str, which the str keeps alive.
std::string_view utf8Of(PyObject* text, const char* what) {
  if (!PyUnicode_Check(text)) {
    throw py::type_error(std::string(what) + " must be a str, not " +
                         Py_TYPE(text)->tp_name);
  }
  Py_ssize_t size = 0;
  const char* bytes = PyUnicode_AsUTF8AndSize(text, &size);
  if (bytes == nullptr) throw py::error_already_set();
  return std::string_view(bytes, static_cast<size_t>(size));
}

// Request types in check_many() repeat, mostly as the same objects: a type
// keyword is looked up only when it is not the object of the request before.
class RequestTypeCache {
 public:
  FilterOption typeOf(PyObject* keyword) {
    if (keyword == Py_None) return OptNone;
    if (keyword == lastKeyword_.ptr()) return lastType_;
    lastType_ = requestType(utf8Of(keyword, "a request type"));
    // Held, so that no other object can take its address meanwhile.
    lastKeyword_ = py::reinterpret_borrow<py::object>(keyword);
    return lastType_;
  }

 private:
  py::object lastKeyword_;
  FilterOption lastType_ = OptNone;
};

// The requests of one check_many() call, copied out of their Python objects
// so that they can be matched without the GIL: every URL and page as a
// NUL-terminated text in one buffer.
class RequestBatch {
 public:
  void add(PyObject* request, RequestTypeCache* types) {
    const bool sequence = PyTuple_Check(request) || PyList_Check(request);
    if (!sequence || PySequence_Fast_GET_SIZE(request) != 3) {
      throw py::type_error(
          "each request must be a tuple (url, type, page), not " +
          describe(request));
    }
    PyObject** fields = PySequence_Fast_ITEMS(request);
    Entry entry;
    entry.url = append(utf8Of(fields[0], "a URL"), "a URL");
    entry.type = types->typeOf(fields[1]);
    if (fields[2] != Py_None) {
      const std::string_view host = utf8Of(fields[2], "a page");
      if (!host.empty()) entry.page = append(host, "a page");
    }
    entries_.push_back(entry);
  }

  // Whether each request is blocked, in order.
  std::vector<bool> check(TessulClient& engine) const {
    std::vector<bool> blocked(entries_.size());
    for (size_t i = 0; i < entries_.size(); ++i) {
      const Entry& entry = entries_[i];
      blocked[i] = engine.matches(
          text_.data() + entry.url, entry.type,
          entry.page == kNoPage ? nullptr : text_.data() + entry.page);
    }
    return blocked;
  }

 private:
  static constexpr size_t kNoPage = static_cast<size_t>(-1);

  struct Entry {
    size_t url;  // offsets into text_
    size_t page = kNoPage;
    FilterOption type = OptNone;
  };

  static std::string describe(PyObject* request) {
    if (PyTuple_Check(request) || PyList_Check(request)) {
      return "one of " + std::to_string(PySequence_Fast_GET_SIZE(request)) +
             " items";
    }
    return Py_TYPE(request)->tp_name;
  }

  size_t append(std::string_view text, const char* what) {
    refuseNul(text, what);
    const size_t offset = text_.size();
    text_.append(text);
    text_.push_back('\0');
    return offset;
  }

  std::string text_;
  std::vector<Entry> entries_;
};

class Engine {
 public:
  explicit Engine(bool compatible = false)
      : client_(compatible ? MatchingMode::kCompatible : MatchingMode::kExact) {}
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // An engine holding the rules of an image, which it copies.
  static std::unique_ptr<Engine> fromImage(const py::buffer& data) {
    std::string image = bytesOf(data);
    auto engine = std::make_unique<Engine>();
    std::string reason;
    bool loaded = false;
    {
      py::gil_scoped_release release;
      engine->image_ = std::move(image);
      loaded = engine->client_.deserialize(engine->image_.data(),
                                           engine->image_.size(), &reason);
    }
    if (!loaded) throw py::value_error("damaged engine image: " + reason);
    return engine;
  }

  std::vector<Note> parse(const std::string& text) {
    refuseNul(text, "the list");
    py::gil_scoped_release release;
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Note> notes;
    // The sink refers to `notes`: it goes with them, even when parse()
    // throws (for want of memory).
    struct SinkReset {
      TessulClient& client;
      ~SinkReset() { client.setNoteSink(nullptr); }
    } reset{client_};
    client_.setNoteSink([&notes](int line, std::string_view message) {
      notes.emplace_back(line, std::string(message));
    });
    client_.parse(text.c_str(), /*preserveRules=*/true);
    return notes;
  }

  std::vector<Note> parseFile(const py::object& path) {
    return parse(readFile(path));
  }

  Match match(const std::string& url, const std::optional<std::string>& type,
              const std::optional<std::string>& page) {
    const FilterOption option = checkRequest(url, type, page);
    const char* host = pageHost(page);
    py::gil_scoped_release release;
    std::lock_guard<std::mutex> lock(mutex_);
    Filter* rule = nullptr;
    Filter* exception = nullptr;
    Match answer;
    answer.blocked = client_.matches(url.c_str(), option, host, &rule,
                                     &exception);
    answer.rule = textOf(rule);
    answer.exception = textOf(exception);
    return answer;
  }

  bool matches(const std::string& url, const std::optional<std::string>& type,
               const std::optional<std::string>& page) {
    const FilterOption option = checkRequest(url, type, page);
    const char* host = pageHost(page);
    py::gil_scoped_release release;
    std::lock_guard<std::mutex> lock(mutex_);
    return client_.matches(url.c_str(), option, host);
  }

  py::list checkMany(const py::iterable& requests) {
    RequestBatch batch;
    RequestTypeCache types;
    for (py::handle request : requests) batch.add(request.ptr(), &types);
    std::vector<bool> blocked;
    {
      py::gil_scoped_release release;
      std::lock_guard<std::mutex> lock(mutex_);
      blocked = batch.check(client_);
    }
    py::list answers(blocked.size());
    for (size_t i = 0; i < blocked.size(); ++i) {
      answers[i] = py::bool_(blocked[i]);
    }
    return answers;
  }

  std::vector<std::string> hidingSelectors(const std::string& page,
                                           bool specific) {
    py::gil_scoped_release release;
    std::lock_guard<std::mutex> lock(mutex_);
    // Copied while locked: the views point into the engine's rules.
    const std::vector<std::string_view> selectors = client_.hidingSelectors(
        page, specific ? HidingScope::kSpecific : HidingScope::kAll);
    return std::vector<std::string>(selectors.begin(), selectors.end());
  }

  // No lock: the mode is set when the engine is made, or by the image it
  // is made from, and never changes.
  bool compatible() const {
    return client_.matchingMode() == MatchingMode::kCompatible;
  }

  py::bytes toImage() {
    int size = 0;
    std::unique_ptr<char[]> image;
    {
      py::gil_scoped_release release;
      std::lock_guard<std::mutex> lock(mutex_);
      image.reset(client_.serialize(&size));
    }
    return py::bytes(image.get(), static_cast<size_t>(size));
  }

 private:
  static std::string bytesOf(const py::buffer& data) {
    const py::buffer_info info = data.request();
    if (info.ndim != 1 || info.itemsize != 1 || info.strides[0] != 1) {
      throw py::type_error("an engine image must be bytes-like and contiguous");
    }
    return std::string(static_cast<const char*>(info.ptr),
                       static_cast<size_t>(info.size));
  }

  // The whole file, or OSError (its subclass for errno) naming the file.
  static std::string readFile(const py::object& path) {
    const py::object name = py::module_::import("os").attr("fsencode")(path);
    const std::string bytes = name.cast<std::string>();
    std::string text;
    int error = 0;
    {
      py::gil_scoped_release release;
      error = readWholeFile(bytes.c_str(), &text);
    }
    if (error != 0) {
      errno = error;
      PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path.ptr());
      throw py::error_already_set();
    }
    return text;
  }

  // 0, or the errno of the failed step.
  static int readWholeFile(const char* path, std::string* text) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return errno;
    char buffer[1 << 16];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
      text->append(buffer, got);
    }
    const int error = std::ferror(file) ? errno : 0;
    std::fclose(file);
    return error;
  }

  static FilterOption checkRequest(const std::string& url,
                                   const std::optional<std::string>& type,
                                   const std::optional<std::string>& page) {
    refuseNul(url, "a URL");
    if (page) refuseNul(*page, "a page");
    return type ? requestType(*type) : OptNone;
  }

  // No page and an empty one are the same: the party is not known.
  static const char* pageHost(const std::optional<std::string>& page) {
    return page && !page->empty() ? page->c_str() : nullptr;
  }

  std::mutex mutex_;
  std::string image_;  // declared before client_, so that it outlives it
  TessulClient client_;
};

std::string matchRepr(const Match& match) {
  const auto quoted = [](const std::optional<std::string>& text) {
    return text ? std::string(py::repr(py::str(*text))) : std::string("None");
  };
  return std::string("Match(blocked=") + (match.blocked ? "True" : "False") +
         ", rule=" + quoted(match.rule) +
         ", exception=" + quoted(match.exception) + ")";
}

}  // namespace

}  // namespace python
}  // namespace tessul

PYBIND11_MODULE(_tessul, module) {
  using tessul::python::Engine;
  using tessul::python::Match;
  module.doc() = "The tessul filter engine (see the package tessul).";
  module.attr("__version__") = tessul::version();
  // The request type names, the most common first, from the list that the
  // keyword table gives (comma-separated).
  module.attr("REQUEST_TYPES") = [] {
    py::list names;
    for (py::handle name :
         py::str(tessul::requestTypeKeywords()).attr("split")(", ")) {
      names.append(name);
    }
    return py::tuple(names);
  }();

  py::class_<Match>(module, "Match",
                    "The answer for one request: whether it is blocked and "
                    "the rules that decided, as lines of their lists.")
      .def_readonly("blocked", &Match::blocked,
                    "True when a blocking rule matched and no exception did.")
      .def_readonly("rule", &Match::rule,
                    "The blocking rule that matched, or None.")
      .def_readonly("exception", &Match::exception,
                    "The exception rule that cancelled the block, or None.")
      .def("__bool__", [](const Match& match) { return match.blocked; })
      .def("__repr__", &tessul::python::matchRepr);

  py::class_<Engine>(module, "Engine", R"(A filter engine.

Parse filter lists into it, or load an engine image, then ask it about
requests. One engine may be used from several threads: its calls take turns,
and they release the GIL while they work. Engines pickle as their image.)")
      .def(py::init<bool>(), py::arg("compatible") = false,
           R"(An engine without rules. compatible: read the lists as
mainstream blockers do (letter case ignored, $important, $badfilter, regex
rules ...), as `tessul check --compatible` does; False, the default, reads
them by the engine's own exact syntax.)")
      .def_property_readonly("compatible", &Engine::compatible,
                             "Whether the engine reads lists in compatible "
                             "mode; an engine from an image has the image's.")
      .def("parse", &Engine::parse, py::arg("text"),
           R"(Adds the rules of a filter list (str or bytes); further calls
append. Returns the notes on its lines as (line, message) pairs, e.g. for a
rule dropped for an unknown option. ValueError for a text holding a NUL.)")
      .def("parse_file", &Engine::parseFile, py::arg("path"),
           R"(Adds the rules of the filter list in a file, as parse() does.
OSError when the file cannot be read.)")
      .def("match", &Engine::match, py::arg("url"), py::arg("type") = py::none(),
           py::arg("page") = py::none(),
           R"(The answer for one request, with the rules that decided.

url: the request's URL; type: its kind by name ("script", "image", ...,
see REQUEST_TYPES), or None or "" when unknown; page: the host of the page that
makes the request, or None. ValueError for an unknown type.)")
      .def("matches", &Engine::matches, py::arg("url"),
           py::arg("type") = py::none(), py::arg("page") = py::none(),
           "Whether the request is blocked; arguments as for match().")
      .def("check_many", &Engine::checkMany, py::arg("requests"),
           R"(Whether each request is blocked, as a list of bools in order.

requests: an iterable of (url, type, page) tuples (or lists of three),
type and page as for match(). All are read first, so a bad one raises before any is matched;
matching then runs without the GIL.)")
      .def("hiding_selectors", &Engine::hidingSelectors, py::arg("page"),
           py::arg("specific") = false,
           R"(The element-hiding selectors that apply on a page, each once,
in the order of the lists, as `tessul hide` prints them.

page: the page's URL, or a host, which stands for https://HOST/.
specific: only the selectors of rules that name a domain the page is or is
under, which apps add to the generic ones. An engine from an image lacks
the $elemhide and $generichide exceptions and the rules of lines longer
than 2047 characters, which images do not carry.)")
      .def("to_image", &Engine::toImage,
           R"(The engine image: bytes that from_image() loads without parsing. It
holds every rule, element hiding included, as `tessul compile
--keep-cosmetic` writes it; rules from it read as rebuilt from their fields.)")
      .def_static("from_image", &Engine::fromImage, py::arg("data"),
                  R"(A new engine holding the rules of an engine image
(bytes-like). ValueError, with the reason, for an image that is damaged.)")
      .def(py::pickle(
          [](Engine& engine) { return py::make_tuple(engine.toImage()); },
          [](const py::tuple& state) {
            if (state.size() != 1) throw py::value_error("bad Engine state");
            return Engine::fromImage(state[0].cast<py::buffer>());
          }));
}
