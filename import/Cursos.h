#pragma once

#include <QAbstractTableModel>
#include <QDialog>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QVector>
#include <array>
#include <exception>
#include <functional>

class QLabel;
class QToolButton;

// The level/course dialog, drawn with Qt. What it does with CURSOST lives in ControlCursos; this
// only shows the table and forwards the user's actions to it.
namespace zendral
{

class AyudaAplicacion;
class ControlCursos;
class PanelDegradado;

namespace dbf
{
class Table;
}

// The grid's rows: a copy of CURSOST kept in step with the dialog's table object, whose current
// record is the grid's current row. Every table operation runs through `proteger`, which keeps
// errors out of Qt's event handling.
class ModeloCursos : public QAbstractTableModel
{
    Q_OBJECT
public:
    using Proteger = std::function<bool(const std::function<void()>&)>;

    enum Columna
    {
        kCodi,
        kDescripcio,
        kNivel,
        kCurso,
        kColumnas
    };

    ModeloCursos(dbf::Table& tabla, Proteger proteger, QObject* parent = nullptr);

    // Reads every record and stands on the first one. Throws the table's errors.
    void Cargar();
    // The row of the table's current record; -1 while the table is closed or has no rows.
    int FilaActual() const;
    // Makes `fila` the current record. Leaving a record being edited saves it first. Throws.
    void IrAFila(int fila);
    // Follows the table after an append, a post or a cancel: the new blank row appears or goes,
    // and the current row shows what the table holds.
    void Sincronizar();
    // The width of a column's field in characters; 0 for a field the table lacks.
    int Ancho(int columna) const { return m_anchos[static_cast<std::size_t>(columna)]; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

private:
    using Fila = std::array<QString, kColumnas>;
    Fila LeerFila();

    dbf::Table& m_tabla;
    Proteger m_proteger;
    QVector<Fila> m_filas;
    std::array<int, kColumnas> m_anchos{};
};

// The course grid: Enter moves to the next cell as Tab does. Tab after the last cell (Shift+Tab
// before the first) leaves the grid for the dialog's other controls instead of wrapping round.
class CursosTDBGrid : public QTableView
{
    Q_OBJECT
public:
    explicit CursosTDBGrid(QWidget* parent = nullptr);

    // Closes the open cell editor, first writing what it holds into the model when `guardar`.
    void CerrarEditor(bool guardar);

signals:
    // The user changed the text of a cell editor on row `fila`: the record is being edited.
    void Escribiendo(int fila);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

private:
    // Whether the current cell is the last one (`next`) or the first one.
    bool EnBorde(bool next) const;
};

// A push button whose caption wraps onto more lines when it does not fit.
class BotonAjustado : public QPushButton
{
    Q_OBJECT
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// "Asignación de Niveles y Cursos": one showing of the level/course dialog. The caller has run
// ControlCursos::FormShow (CURSOST is open) before constructing it.
class TControlCursos : public QDialog
{
    Q_OBJECT
public:
    TControlCursos(ControlCursos& control, AyudaAplicacion& ayuda, QWidget* owner = nullptr);
    ~TControlCursos() override;

    // The error that ended the dialog, if one did; the run goes on with it once the dialog is gone.
    std::exception_ptr Fallo() const { return m_fallo; }
    // Shows the notice and the forced exit once ControlCursos has decided to show them.
    void ActualizarVisibilidad();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    enum class Boton
    {
        First,
        PriorPage,
        Prior,
        Next,
        NextPage,
        Last,
        Edit,
        Post,
        Cancel,
        Refresh,
    };

    // The parts of the window, made in the order of its controls.
    void CrearGrid();
    void CrearNavegador();
    void CrearTextosYBotones();
    // Visibility, tab order, help key and the grid's signals; then the grid takes the focus.
    void Conectar(AyudaAplicacion& ayuda);

    void CursosTDBGridEnter();
    void CursosTDBGridExit();
    void BitBtn1Click();
    void BitBtn2Click();
    void CambioDeFoco(QWidget* antes, QWidget* ahora);
    bool EnGrid(const QWidget* w) const;
    void Navegar(Boton boton);
    void ActualizarNavegador();
    // The grid's current cell follows the table's current record.
    void SeguirTabla();
    bool Proteger(const std::function<void()>& accion);

    ControlCursos& m_control;
    std::exception_ptr m_fallo;
    bool m_enGrid = false;

    // Widgets, each with its given name as objectName.
    PanelDegradado* m_draw3D1;
    CursosTDBGrid* m_grid;
    ModeloCursos* m_modelo;
    QWidget* m_navegador;
    std::array<QToolButton*, 10> m_botones{};
    QLabel* m_label2;
    QLabel* m_label3;
    QPushButton* m_bitBtn1;
    BotonAjustado* m_bitBtn2;
    QLabel* m_label8;
};

} // namespace zendral
