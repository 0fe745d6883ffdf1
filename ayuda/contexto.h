/* Numeros de contexto de la ayuda. Cada nombre tiene su linea en [ALIAS] de GestIB.hhp.
   Un solo espacio entre el nombre y el numero, y nada detras del numero.
   La ventana principal y la de niveles y cursos piden el contexto 1 con F1. */
#define IDH_VENTANA_PRINCIPAL 1
#define IDH_IMPORTACION 10
#define IDH_COMPROBAR 15
#define IDH_CURSOS 20
#define IDH_ABREVIATURAS 21
#define IDH_LINEAS 30
#define IDH_EXPORTACION 40
#define IDH_VELORIN 50
#define IDH_COPIAS 55
#define IDH_ERRORES 60
