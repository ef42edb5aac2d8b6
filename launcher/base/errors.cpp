#include "launcher/base/errors.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace orv {
namespace {

std::string TypeName(const std::type_info& type) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status),
                                                std::free);
    return status == 0 && name ? std::string(name.get()) : std::string(type.name());
}

}  // namespace

ErrorDescription DescribeException(const std::exception_ptr& error) {
    ErrorDescription result;
    // Rethrowing an empty pointer is undefined; there is nothing to describe anyway.
    if (!error) return result;
    try {
        std::rethrow_exception(error);
    } catch (const Error& e) {
        result.ClassName = e.ClassName();
        result.Message = e.what();
    } catch (const std::exception& e) {
        result.ClassName = TypeName(typeid(e));
        result.Message = e.what();
    } catch (...) {
        result.ClassName = "Exception";
        result.Message = "Unknown error";
    }
    return result;
}

}  // namespace orv
