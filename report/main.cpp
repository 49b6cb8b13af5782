// sevenparam-report: the quality report of a seven-parameter estimation.
int main()
{
    return 0;
}
