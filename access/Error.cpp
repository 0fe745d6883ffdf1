#include "Error.h"

#include <cerrno>
#include <string>

namespace zendral
{

std::string SystemReason(int err)
{
    switch (err) {
    case ENOENT:
        return "no existe el archivo o el directorio";
    case EACCES:
    case EPERM:
        return "permiso denegado";
    case EROFS:
        return "el sistema de archivos es de solo lectura";
    case ENOSPC:
        return "no queda espacio en el disco";
#ifdef EDQUOT
    case EDQUOT:
        return "se ha superado la cuota de disco";
#endif
    case ENOTDIR:
        return "una parte de la ruta no es un directorio";
    case EISDIR:
        return "es un directorio";
    case EAGAIN:
    case EBUSY:
        return "está en uso por otro programa";
    case EIO:
        return "error de entrada/salida";
    case ENAMETOOLONG:
        return "el nombre es demasiado largo";
    case EMFILE:
    case ENFILE:
        return "hay demasiados archivos abiertos";
    case EFBIG:
        return "archivo demasiado grande";
    case EEXIST:
        return "ya existe un archivo con ese nombre";
#ifdef ELOOP
    case ELOOP:
        return "hay demasiados enlaces simbólicos en la ruta";
#endif
    case EXDEV:
        return "los archivos están en dispositivos distintos";
    case EINVAL:
        return "argumento no válido";
    case ENOTSUP:
        return "operación no admitida por el sistema de archivos";
    default:
        return "error del sistema número " + std::to_string(err);
    }
}

} // namespace zendral
