// Linked with the whole of one layer's library and only what that layer links: the link fails
// when the layer calls into a higher one.
int main()
{
    return 0;
}
