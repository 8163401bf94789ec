// The check of a whole SVF file before a run: what the write-ahead parser
// would meet, met with no cable, so that a broken or cut-short file is
// refused before anything reaches the chain.
#include "svf/svf.h"

void TSVFFile::CheckFile(const platform::TStopToken& Stop)
{
    TSVFFile checker(FFileName);
    Checked.Record(checker.FFile);
    checker.Checked = Checked;
    checker.Side = TSide::Check;
    checker.CopyComments = false;
    checker.OnCheckedRuntest = OnCheckedRuntest;
    checker.DefaultFrequency = DefaultFrequency;
    TSVFCommand statement;
    do {
        // A file of millions of statements takes seconds to check.
        if (Stop.Asked())
            return;
        FreeStatement(statement);
        checker.NextStatement(statement);
        checker.TakeStatement(statement);
        checker.ExecuteStatement(statement);
    } while (statement.Command != SvfCommand::Eof);
}
