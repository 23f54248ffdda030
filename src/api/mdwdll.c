/* libmdwdll.so is made of the core archive alone; this unit only gives the target a source. */
