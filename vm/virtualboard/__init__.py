"""The virtual board's harness: the board's build (boardbuild), its device tree (devicetree), its one
serial line (line), the records and flash images it is given (records), run-board as a child process
(runner, board), a shell on its console (shell, qmp), a terminal program on its line (terminal),
imgtool send on its line (imgtool_send) and the power-cut campaigns (powercuts)."""
