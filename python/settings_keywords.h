#pragma once

#include <pybind11/pybind11.h>

#include "generation/settings.h"

// The Python face of CGenerationSettings: keywords named as the command line's options with '_'
// ("sample_rate"), each value checked by the settings table exactly as an option's text is, so the
// messages are the programs' own (raised as ValueError; a value of the wrong type as TypeError).

// Settings from `keywords` (the table's fields only; unknown ones raise TypeError).
CGenerationSettings SettingsFromKeywords(const pybind11::kwargs& keywords);

// Sets the field named `keyword` from `value`, or raises.
void SetSettingsField(CGenerationSettings& settings, const std::string& keyword,
                      const pybind11::handle& value);

// The field's value as Python has it: float, int (sample_rate) or str (format, container).
pybind11::object GetSettingsField(const CGenerationSettings& settings, const std::string& keyword);

// Adds the class `Settings` to `module`, with one property per field.
void DefineSettings(pybind11::module_& module);
