// zarn._zarn: the compiled half of the Python package. It wraps
// zarn::ZarnAddress; the Python half (zarn/__init__.py) adds the named
// result type, the error class and the pandas and Dask helpers.
//
// Every parse runs with the GIL released, so Python threads parse in
// parallel, and parse_many() spreads a list over native threads itself.
#include <pybind11/pybind11.h>

#include <algorithm>
#include <cstddef>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "zarn/zarn.hpp"

namespace py = pybind11;

namespace {

// zarn.Parser: the parser and whether it was made on the bundled database
// (database=None), which a pickled copy then finds again where it is
// unpickled rather than taking this process's path.
struct Parser : zarn::ZarnAddress {
  using zarn::ZarnAddress::ZarnAddress;
  bool bundled_database = false;
};

// The parser behind `self`. An object made by Parser.__new__ without
// __init__ holds none (its memory is not a parser), and is refused.
const Parser& Self(py::handle self) {
  if (!py::isinstance<Parser>(self)) throw py::type_error("expected a zarn.Parser");
  auto* instance = reinterpret_cast<py::detail::instance*>(self.ptr());
  const py::detail::value_and_holder held =
      instance->get_value_and_holder(py::detail::get_type_info(typeid(Parser)));
  if (!held || !held.holder_constructed() || held.value_ptr() == nullptr) {
    throw py::type_error("zarn.Parser was not initialised: make it with zarn.Parser(...)");
  }
  return *held.value_ptr<Parser>();
}

// zarn._types.Parts and zarn._types.Error, looked up once when the module
// loads. Held for the life of the process: the interpreter may finalize
// before static destructors run, so they are deliberately never released.
PyObject* g_parts_type = nullptr;
PyObject* g_error_type = nullptr;
PyObject* g_diagnostics_type = nullptr;
PyObject* g_standard_type = nullptr;

// Below this many addresses per thread, starting a thread costs more than
// it saves.
constexpr size_t kMinPerThread = 256;

py::str Utf8(std::string_view text) {
  PyObject* s = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
  if (s == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(s);
}

py::object MakeError(int number, std::string_view message, py::object index = py::none()) {
  return py::reinterpret_borrow<py::object>(g_error_type)(number, Utf8(message), index);
}

void SetPythonError(const py::object& error) { PyErr_SetObject(g_error_type, error.ptr()); }

[[noreturn]] void Raise(const py::object& error) {
  SetPythonError(error);
  throw py::error_already_set();
}

// The UTF-8 bytes of one address argument: a str (kept as the str's own
// UTF-8 cache) or bytes. A str with lone surrogates cannot be UTF-8; it is
// passed on with the surrogates encoded, which the parser rejects as invalid
// UTF-8 like any other bad text.
class Utf8Arg {
 public:
  explicit Utf8Arg(py::handle obj) {
    if (PyUnicode_Check(obj.ptr())) {
      Py_ssize_t size = 0;
      const char* data = PyUnicode_AsUTF8AndSize(obj.ptr(), &size);
      if (data != nullptr) {
        view_ = std::string_view(data, static_cast<size_t>(size));
        return;
      }
      PyErr_Clear();
      PyObject* raw = PyUnicode_AsEncodedString(obj.ptr(), "utf-8", "surrogatepass");
      if (raw == nullptr) throw py::error_already_set();
      keep_ = py::reinterpret_steal<py::object>(raw);
      obj = keep_;
    }
    if (!PyBytes_Check(obj.ptr())) {
      throw py::type_error(std::string("an address must be str or bytes, not ") +
                           Py_TYPE(obj.ptr())->tp_name);
    }
    view_ = std::string_view(PyBytes_AS_STRING(obj.ptr()),
                             static_cast<size_t>(PyBytes_GET_SIZE(obj.ptr())));
  }
  std::string_view view() const { return view_; }

 private:
  std::string_view view_;
  py::object keep_;
};

// A zarn.Parts: one item per output field, in the field table's order.
// Made as tuple.__new__(Parts, values) makes it, without the call through
// the named tuple's own __new__ (a Python function) that Parts(*values)
// costs: every field is given, so its defaults play no part.
py::object MakeParts(const zarn::AddressParts& p) {
  py::tuple values(zarn::kFieldCount);
  for (size_t f = 0; f < zarn::kFieldCount; ++f) values[f] = Utf8(p.Field(f));
  py::tuple args = py::make_tuple(values);
  PyObject* made =
      PyTuple_Type.tp_new(reinterpret_cast<PyTypeObject*>(g_parts_type), args.ptr(), nullptr);
  if (made == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(made);
}

py::object MakeDiagnostics(const zarn::Diagnostics& d) {
  py::list flags;
  const std::string names = zarn::DiagnosticFlagNames(d.flags);
  size_t at = 0;
  while (at < names.size()) {
    const size_t comma = std::min(names.find(',', at), names.size());
    flags.append(Utf8(std::string_view(names).substr(at, comma - at)));
    at = comma + 1;
  }
  py::list words;
  for (const std::string& w : d.unplaced_words) words.append(Utf8(w));
  return py::reinterpret_borrow<py::object>(g_diagnostics_type)(py::tuple(flags), py::tuple(words));
}

py::tuple FlagTuple(const std::string& names) {
  py::list flags;
  size_t at = 0;
  while (at < names.size()) {
    const size_t comma = std::min(names.find(',', at), names.size());
    flags.append(Utf8(std::string_view(names).substr(at, comma - at)));
    at = comma + 1;
  }
  return py::tuple(flags);
}

py::object MakeStandard(const zarn::StandardAddress& s) {
  return py::reinterpret_borrow<py::object>(g_standard_type)(
      Utf8(s.line), Utf8(s.street_number), Utf8(s.street), Utf8(s.street_type), Utf8(s.direction),
      Utf8(s.unit), zarn::LanguageName(s.language), FlagTuple(zarn::StandardFlagNames(s.flags)),
      Utf8(s.delivery_line), Utf8(s.last_line));
}

zarn::Language LanguageArgument(const std::string& language) {
  zarn::Language out = zarn::Language::kDetect;
  if (!zarn::LanguageFromName(language, &out)) {
    throw py::value_error("language must be 'en', 'fr' or 'detect', not '" + language + "'");
  }
  return out;
}

// A zarn.Parts, or any sequence of five str (street_number, street,
// street_type, direction, unit) or of one str per output field, as
// AddressParts.
zarn::AddressParts PartsArgument(py::handle parts) {
  const Py_ssize_t size = PySequence_Check(parts.ptr()) ? PySequence_Size(parts.ptr()) : -1;
  if (PyUnicode_Check(parts.ptr()) || PyBytes_Check(parts.ptr()) ||
      (size != 5 && size != static_cast<Py_ssize_t>(zarn::kFieldCount))) {
    throw py::type_error("parts must be a zarn.Parts or a sequence of five str, not " +
                         std::string(Py_TYPE(parts.ptr())->tp_name));
  }
  py::sequence seq = py::reinterpret_borrow<py::sequence>(parts);
  zarn::AddressParts out;
  for (size_t i = 0; i < static_cast<size_t>(size); ++i) {
    py::object item = seq[i];
    if (item.is_none()) continue;
    Utf8Arg arg(item);
    out.Field(i).assign(arg.view());
  }
  return out;
}

zarn::ParseOptions OptionsArgument(const std::string& profile) {
  zarn::ParseOptions options;
  if (!zarn::ProfileFromName(profile, &options.profile)) {
    throw py::value_error("profile must be " + zarn::ProfileChoices() + ", not '" + profile + "'");
  }
  return options;
}

std::string DatabaseArgument(py::object database) {
  if (database.is_none()) {
    return py::module_::import("zarn._paths").attr("default_database")().cast<std::string>();
  }
  py::object path = py::module_::import("os").attr("fsdecode")(database);
  return path.cast<std::string>();
}

// One single-part method: parse with the GIL released.
template <std::string (zarn::ZarnAddress::*Method)(std::string_view) const>
py::str Single(py::handle parser_self, py::handle text) {
  const Parser& parser = Self(parser_self);
  Utf8Arg arg(text);
  std::string answer;
  {
    py::gil_scoped_release release;
    const zarn::ZarnAddress& base = parser;
    answer = (base.*Method)(arg.view());
  }
  return Utf8(answer);
}

py::list ParseMany(py::handle parser_self, py::iterable addresses, py::object threads,
                   const std::string& errors, bool diagnostics) {
  const Parser& parser = Self(parser_self);
  const bool raise = errors == "raise";
  if (!raise && errors != "coerce") {
    throw py::value_error("errors must be 'raise' or 'coerce', not '" + errors + "'");
  }
  size_t wanted = std::max(1u, std::thread::hardware_concurrency());
  if (!threads.is_none()) {
    const long n = threads.cast<long>();
    if (n < 1) throw py::value_error("threads must be at least 1");
    wanted = static_cast<size_t>(n);
  }

  // Copy every address into one arena while holding the GIL; the parse
  // then runs without touching any Python object.
  std::string arena;
  std::vector<std::pair<size_t, size_t>> spans;
  // Items that are neither str nor bytes: their own TypeError, or (coerce)
  // None in their place while the others are parsed.
  std::vector<size_t> not_text;
  for (py::handle item : addresses) {
    try {
      Utf8Arg arg(item);
      spans.emplace_back(arena.size(), arg.view().size());
      arena.append(arg.view());
    } catch (py::type_error&) {
      if (raise) {
        throw py::type_error("address " + std::to_string(spans.size()) +
                             " must be str or bytes, not " + Py_TYPE(item.ptr())->tp_name);
      }
      not_text.push_back(spans.size());
      spans.emplace_back(arena.size(), 0);
    }
  }
  const size_t count = spans.size();
  std::vector<std::string_view> views(count);
  for (size_t i = 0; i < count; ++i) {
    views[i] = std::string_view(arena).substr(spans[i].first, spans[i].second);
  }
  std::vector<zarn::BatchResult> results(count);

  {
    py::gil_scoped_release release;
    const size_t n_threads =
        std::max<size_t>(1, std::min(wanted, (count + kMinPerThread - 1) / kMinPerThread));
    const size_t per = (count + n_threads - 1) / std::max<size_t>(1, n_threads);
    auto run = [&](size_t begin) {
      const size_t end = std::min(count, begin + per);
      if (begin >= end) return;
      parser.ParseBatch(std::span<const std::string_view>(views).subspan(begin, end - begin),
                        std::span<zarn::BatchResult>(results).subspan(begin, end - begin));
    };
    std::vector<std::thread> pool;
    pool.reserve(n_threads - 1);
    try {
      for (size_t t = 1; t < n_threads; ++t) pool.emplace_back(run, t * per);
    } catch (...) {
      // Could not start every thread: the current one does their share.
      for (size_t t = pool.size() + 1; t < n_threads; ++t) run(t * per);
    }
    run(0);
    for (std::thread& t : pool) t.join();
  }

  py::list out(count);
  size_t next_not_text = 0;
  for (size_t i = 0; i < count; ++i) {
    const zarn::BatchResult& r = results[i];
    if (next_not_text < not_text.size() && not_text[next_not_text] == i) {
      ++next_not_text;
      out[i] = py::none();
    } else if (r.ok()) {
      out[i] = diagnostics
                   ? py::object(py::make_tuple(MakeParts(r.parts), MakeDiagnostics(r.diagnostics)))
                   : MakeParts(r.parts);
    } else if (raise) {
      Raise(MakeError(r.error_number, r.error_message + " (address " + std::to_string(i) + ")",
                      py::int_(i)));
    } else {
      out[i] = py::none();
    }
  }
  return out;
}

}  // namespace

PYBIND11_MODULE(_zarn, m) {
  m.doc() = "Compiled core of the zarn package; use the names exported by zarn instead.";

  py::module_ types = py::module_::import("zarn._types");
  // zarn.Parts is made here from the library's field table: one item per
  // output field, named and documented as the table says.
  py::list fields;
  for (const zarn::FieldInfo& field : zarn::Fields()) {
    fields.append(py::make_tuple(field.name, field.meaning));
  }
  g_parts_type = py::object(types.attr("_define_parts")(fields)).release().ptr();
  g_error_type = py::object(types.attr("Error")).release().ptr();
  g_diagnostics_type = py::object(types.attr("Diagnostics")).release().ptr();
  g_standard_type = py::object(types.attr("StandardAddress")).release().ptr();

  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const zarn::Error& e) {
      SetPythonError(MakeError(e.Number(), e.what()));
    }
  });

  m.attr("__version__") = zarn::Version();
  m.def("reference_database_path", &zarn::ReferenceDatabasePath,
        "The database Parser() uses: $ZARN_DATABASE when set, else the bundled one of this "
        "installed copy, found from where the module is.");
  m.def(
      "profile_names",
      [] {
        py::list names;
        for (const char* name : zarn::ProfileNames()) names.append(name);
        return names;
      },
      "The names of the rule profiles.");

  py::class_<Parser>(m, "Parser", R"doc(
A street-address parser on one reference database.

Parser(database=None, profile="canada") uses the reference database file
``database`` (a path), or when it is None the bundled one: $ZARN_DATABASE when
set, else the copy beside this package, else the library's installed copy.
The file is opened read-only, not before the first call; a missing file
raises zarn.Error on that call (number 14).

profile: "canada" (the default: whole Canadian addresses in English and
French, with municipality, province, postal code and delivery forms, and
diagnostics) or "specified" (the documented street-line rules that the C++
class, the C API and the Windows component use by default).

A Parser may be shared by any number of threads. Every call releases the GIL
while it parses.)doc")
      .def(py::init([](py::object database, const std::string& profile) {
             const bool bundled = database.is_none();
             Parser parser(DatabaseArgument(std::move(database)), OptionsArgument(profile));
             parser.bundled_database = bundled;
             return parser;
           }),
           py::arg("database") = py::none(), py::arg("profile") = "canada")
      .def_property_readonly(
          "profile",
          [](py::handle p_self) {
            const Parser& p = Self(p_self);
            return zarn::ProfileName(p.Options().profile);
          },
          "The rule profile: 'specified' or 'canada'.")
      .def_property_readonly(
          "database",
          [](py::handle p_self) {
            const Parser& p = Self(p_self);
            return p.DatabasePath();
          },
          "The path of the reference database this parser reads.")
      .def("street", &Single<&zarn::ZarnAddress::Street>, py::arg("text"),
           "The street name of the address, e.g. 'Saint Denis' for '5-123 rue Saint-Denis "
           "Ouest'.")
      .def("street_type", &Single<&zarn::ZarnAddress::StreetType>, py::arg("text"),
           "The street type in its full form, e.g. 'Street' for '123 Main St. N'.")
      .def("street_number", &Single<&zarn::ZarnAddress::StreetNumber>, py::arg("text"),
           "The civic number, e.g. '123' for '123 Main St. N'.")
      .def("direction", &Single<&zarn::ZarnAddress::Direction>, py::arg("text"),
           "The direction as a letter, e.g. 'W' for '4500 boul Saint-Laurent Ouest'.")
      .def("unit", &Single<&zarn::ZarnAddress::Unit>, py::arg("text"),
           "The unit, e.g. '5' for 'Apt 5 21st Ave'.")
      .def(
          "address_segment",
          [](py::handle parser_self, py::handle text, int kind) {
            const Parser& parser = Self(parser_self);
            Utf8Arg arg(text);
            std::string answer;
            {
              py::gil_scoped_release release;
              answer = parser.AddressSegment(arg.view(), kind);
            }
            return Utf8(answer);
          },
          py::arg("text"), py::arg("kind"),
          "The text of the first segment of kind `kind` (a zarn.SegmentKind); for "
          "SegmentKind.STREET every later street word too. A kind the address does not hold, or "
          "one outside 0..6, gives ''.")
      .def(
          "parse",
          [](py::handle parser_self, py::handle text) {
            const Parser& parser = Self(parser_self);
            Utf8Arg arg(text);
            zarn::AddressParts parts;
            {
              py::gil_scoped_release release;
              parts = parser.Parse(arg.view());
            }
            return MakeParts(parts);
          },
          py::arg("text"),
          "All five parts at once, as a zarn.Parts: the same answers as the five single-part "
          "methods for a fifth of the work.")
      .def(
          "parse_diagnostics",
          [](py::handle parser_self, py::handle text) {
            const Parser& parser = Self(parser_self);
            Utf8Arg arg(text);
            zarn::AddressParts parts;
            zarn::Diagnostics diagnostics;
            {
              py::gil_scoped_release release;
              parts = parser.Parse(arg.view(), &diagnostics);
            }
            return py::make_tuple(MakeParts(parts), MakeDiagnostics(diagnostics));
          },
          py::arg("text"),
          "(Parts, Diagnostics): the parts and what the parse could not settle (flag names "
          "and unplaced words; always empty for the specified profile).")
      .def(
          "standardize",
          [](py::handle parser_self, py::handle parts, const std::string& language,
             py::object address) {
            const Parser& parser = Self(parser_self);
            const zarn::AddressParts p = PartsArgument(parts);
            const zarn::Language lang = LanguageArgument(language);
            std::optional<Utf8Arg> text;
            if (!address.is_none()) text.emplace(address);
            zarn::StandardAddress form;
            {
              py::gil_scoped_release release;
              form = parser.Standardize(p, lang, text ? text->view() : std::string_view());
            }
            return MakeStandard(form);
          },
          py::arg("parts"), py::arg("language") = "detect", py::arg("address") = py::none(),
          R"doc(
The parts (a zarn.Parts, or five str) in Canada Post's standard form, as a
zarn.StandardAddress: upper case, the street type as its symbol from the
reference database (table StreetTypeSymbol), the direction in the address's
language, the unit before the civic number with a hyphen.

language: 'en', 'fr', or 'detect' (French where the parts show it: a type
with only a French symbol such as rue or chemin, a French direction, de, du,
des, d', l' in the name, a type such as avenue typed in lower case).
address: the text the parts were parsed from, a further clue for 'detect'
(the street type before the name, French direction words as typed).
A database without the StreetTypeSymbol table raises zarn.Error.)doc")
      .def(
          "parse_standard",
          [](py::handle parser_self, py::handle text, const std::string& language) {
            const Parser& parser = Self(parser_self);
            Utf8Arg arg(text);
            const zarn::Language lang = LanguageArgument(language);
            zarn::StandardAddress form;
            {
              py::gil_scoped_release release;
              form = parser.Standardize(parser.Parse(arg.view()), lang, arg.view());
            }
            return MakeStandard(form);
          },
          py::arg("text"), py::arg("language") = "detect",
          "Parses the address and returns it in the standard form: "
          "standardize(parse(text), language, address=text).")
      .def("parse_many", &ParseMany, py::arg("addresses"), py::arg("threads") = py::none(),
           py::arg("errors") = "raise", py::arg("diagnostics") = false, R"doc(
Parses every address of an iterable of str (or UTF-8 bytes) and returns a
list of zarn.Parts in the same order; with diagnostics=True, a list of
(Parts, Diagnostics).

threads: how many native threads share the work (None: one per processor;
small inputs use fewer). The GIL is released while parsing.
errors: 'raise' raises zarn.Error for the first address that fails (its
.index says which), TypeError for an item that is neither str nor bytes;
'coerce' puts None in the place of either instead.)doc")
      .def("__repr__",
           [](py::handle p_self) {
             const Parser& p = Self(p_self);
             std::string text =
                 "zarn.Parser(" + py::repr(py::str(p.DatabasePath())).cast<std::string>();
             if (p.Options().profile != zarn::Profile::kCanada) {
               text += std::string(", profile='") + zarn::ProfileName(p.Options().profile) + "'";
             }
             return text + ")";
           })
      // Pickled as the call that makes it again, for every protocol: the
      // path, or None for a parser on the bundled database, which the
      // unpickling process then finds for itself.
      .def("__reduce__",
           [](py::handle p_self) {
             const Parser& p = Self(p_self);
             py::object database = py::none();
             if (!p.bundled_database) database = py::str(p.DatabasePath());
             return py::make_tuple(
                 py::module_::import("zarn._zarn").attr("Parser"),
                 py::make_tuple(database, zarn::ProfileName(p.Options().profile)));
           })
      .def(
          "__reduce_ex__", [](py::handle self, int) { return self.attr("__reduce__")(); },
          py::arg("protocol"));
}
