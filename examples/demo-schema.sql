-- Tables of the demo database (SQLite).
CREATE TABLE Messwerte (
    Zeit TEXT, Anlage VARCHAR(20), Temperatur DOUBLE, Druck DOUBLE, Durchfluss DOUBLE,
    Vibration DOUBLE, Zustand VARCHAR(20));
-- Same columns: the status row carries the translated quality of each value.
CREATE TABLE MesswerteStatus (
    Zeit TEXT, Anlage VARCHAR(20), Temperatur VARCHAR(20), Druck VARCHAR(20),
    Durchfluss VARCHAR(20), Vibration VARCHAR(20), Zustand VARCHAR(20));
-- One row, found by its key and overwritten on every write.
CREATE TABLE Aktuell (
    Id INTEGER PRIMARY KEY, Stand TEXT, Fuellstand DOUBLE, Stueckzahl INTEGER, Modus VARCHAR(20));
INSERT INTO Aktuell (Id) VALUES (1);
