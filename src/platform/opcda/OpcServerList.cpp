// The OPC server enumerator: filled in by the enumerator work.
