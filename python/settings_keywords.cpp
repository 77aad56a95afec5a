#include "python/settings_keywords.h"

#include <charconv>
#include <string>

#include "generation/settings_fields.h"

namespace py = pybind11;

namespace {

std::string Keyword(const CSettingsField& field) {
    std::string keyword = field.m_szName;
    for (char& c : keyword) {
        c = c == '-' ? '_' : c;
    }
    return keyword;
}

const CSettingsField& FieldNamed(const std::string& keyword) {
    const CSettingsField* field = FindSettingsField(keyword);
    if (field == nullptr || Keyword(*field) != keyword) {
        throw py::type_error("Settings has no field '" + keyword + "'");
    }
    return *field;
}

// The value as the option's text: a number in the shortest form that reads back as the same double.
std::string ValueText(const CSettingsField& field, const std::string& keyword, const py::handle& value) {
    const bool text =
        field.m_eKind == CSettingsField::EKind::Format || field.m_eKind == CSettingsField::EKind::Container;
    if (text) {
        if (!py::isinstance<py::str>(value)) {
            throw py::type_error(keyword + " expects a str, not " +
                                 std::string(py::str(value.get_type().attr("__name__"))));
        }
        return value.cast<std::string>();
    }
    // Any real number: Python's int and float, numpy's integer and floating scalars (an integer
    // through __index__, a real through __float__); not bool, str or complex.
    const bool integer = !py::isinstance<py::bool_>(value) && PyIndex_Check(value.ptr()) != 0;
    const bool real = !integer && !py::isinstance<py::bool_>(value) && !py::isinstance<py::str>(value) &&
                      !PyComplex_Check(value.ptr()) &&
                      py::isinstance(value, py::module_::import("numbers").attr("Real"));
    if (!integer && !real) {
        throw py::type_error(keyword + " expects a number, not " +
                             std::string(py::str(value.get_type().attr("__name__"))));
    }
    if (integer) {
        return std::string(
            py::str(py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr())))); // as written
    }
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer,
                                   py::float_(py::reinterpret_borrow<py::object>(value)).cast<double>())
                         .ptr;
    return std::string(buffer, end);
}

} // namespace

void SetSettingsField(CGenerationSettings& settings, const std::string& keyword, const py::handle& value) {
    const CSettingsField& field = FieldNamed(keyword);
    if (const auto error = ApplySettingsField(field, ValueText(field, keyword, value), settings)) {
        throw py::value_error(keyword + " " + *error);
    }
}

py::object GetSettingsField(const CGenerationSettings& settings, const std::string& keyword) {
    const CSettingsField& field = FieldNamed(keyword);
    switch (field.m_eKind) {
    case CSettingsField::EKind::SampleRate:
        return py::int_(settings.m_nSampleRate);
    case CSettingsField::EKind::Format:
    case CSettingsField::EKind::Container:
        return py::str(field.ValueText(settings));
    case CSettingsField::EKind::Double:
        break;
    }
    return py::float_(settings.*field.m_pDouble);
}

CGenerationSettings SettingsFromKeywords(const py::kwargs& keywords) {
    CGenerationSettings settings;
    for (const auto& [key, value] : keywords) {
        SetSettingsField(settings, key.cast<std::string>(), value);
    }
    return settings;
}

void DefineSettings(py::module_& module) {
    std::string doc = "The signal's settings, as vorlanx-gen's options name them (with '_' for '-'):\n\n";
    const CGenerationSettings defaults;
    for (const CSettingsField& field : SettingsFields()) {
        doc += "    " + Keyword(field) + ": " + field.m_szHelp + " (default " + field.ValueText(defaults);
        doc += field.m_bRanged ? ", " + field.RangeText() + ")\n" : ")\n";
    }
    doc += "\nA value out of range, or not a number where one is due, raises ValueError with the\n"
           "programs' own message; a value of the wrong type raises TypeError.";
    auto settings = py::class_<CGenerationSettings>(module, "Settings", doc.c_str());
    settings.def(py::init([](const py::kwargs& keywords) { return SettingsFromKeywords(keywords); }));
    for (const CSettingsField& field : SettingsFields()) {
        const std::string keyword = Keyword(field);
        settings.def_property(
            keyword.c_str(), [keyword](const CGenerationSettings& s) { return GetSettingsField(s, keyword); },
            [keyword](CGenerationSettings& s, const py::handle& value) {
                SetSettingsField(s, keyword, value);
            },
            field.m_szHelp);
    }
    settings.def("__repr__", [](const CGenerationSettings& s) {
        std::string text = "vorlanx.Settings(";
        for (const CSettingsField& field : SettingsFields()) {
            const bool quoted = field.m_eKind == CSettingsField::EKind::Format ||
                                field.m_eKind == CSettingsField::EKind::Container;
            text += (text.back() == '(' ? "" : ", ") + Keyword(field) + "=" + (quoted ? "'" : "") +
                    field.ValueText(s) + (quoted ? "'" : "");
        }
        return text + ")";
    });
    // Against anything else than Settings: NotImplemented, so that Python answers False.
    settings.def("__eq__", [](const CGenerationSettings& a, const py::object& other) -> py::object {
        if (!py::isinstance<CGenerationSettings>(other)) {
            return py::reinterpret_borrow<py::object>(Py_NotImplemented);
        }
        const auto& b = other.cast<const CGenerationSettings&>();
        for (const CSettingsField& field : SettingsFields()) {
            const bool same = field.m_eKind == CSettingsField::EKind::Double
                                  ? a.*field.m_pDouble == b.*field.m_pDouble
                                  : field.ValueText(a) == field.ValueText(b); // whole numbers and names
            if (!same) {
                return py::bool_(false);
            }
        }
        return py::bool_(true);
    });
}
