// The parameter table lands here.
