#include "python/errors.hpp"

#include <pybind11/pybind11.h>

#include <filesystem>
#include <fstream>

#include "engine/engine_error.hpp"
#include "engine/numio.hpp"
#include "engine/scattering.hpp"
#include "fit/project_file.hpp"

namespace py = pybind11;

namespace kelvarin::python {

namespace {

bool readable(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return false;
    std::ifstream in(path);
    return static_cast<bool>(in);
}

}  // namespace

void registerErrorTranslators() {
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const FileError& e) {
            PyErr_SetString(PyExc_OSError, e.what());
        } catch (const EngineError& e) {
            PyErr_SetString(PyExc_ValueError, e.what());
        } catch (const ScatteringError& e) {
            PyErr_SetString(PyExc_ValueError, e.what());
        } catch (const DataFileError& e) {
            PyErr_SetString(PyExc_ValueError, e.what());
        } catch (const fit::ProjectError& e) {
            PyErr_SetString(PyExc_ValueError, e.what());
        }
    });
}

void runWithFiles(const std::vector<std::string>& files, const std::function<void()>& work) {
    try {
        work();
    } catch (const std::runtime_error& e) {
        for (const std::string& f : files)
            if (!readable(f)) throw FileError(e.what());
        throw;
    }
}

}  // namespace kelvarin::python
